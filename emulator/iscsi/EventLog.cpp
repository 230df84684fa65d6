#include "emulator/iscsi/EventLog.h"

#include <stdarg.h>

namespace emulator {

EventLog::~EventLog() { Close(); }

bool EventLog::Open(const std::string& path) {
    Close();
    file_ = fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void EventLog::Line(const char* format, ...) {
    if (file_ == nullptr) return;
    char line[LineRoom];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(file_, "%s\n", line);
    fflush(file_);
}

void EventLog::Close() {
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
}

void EventLog::HexBytes(const uint8_t* bytes, size_t n, char* out, size_t room) {
    size_t at = 0;
    for (size_t i = 0; i < n && at + 3 <= room; ++i)
        at += static_cast<size_t>(snprintf(out + at, room - at, "%02x", bytes[i]));
    if (room != 0 && at < room) out[at] = '\0';
}

}  // namespace emulator
