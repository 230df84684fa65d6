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

}  // namespace emulator
