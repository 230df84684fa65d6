#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

namespace emulator {

// The target's event log: one line per login, command, logout and dropped connection, written
// and flushed as it happens so that a run that is killed still leaves it. Without a path it
// writes nothing.
class EventLog {
public:
    static constexpr size_t LineRoom = 2048;

    EventLog() = default;
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    ~EventLog();

    bool Open(const std::string& path);
    // printf-style; a line longer than LineRoom is cut.
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Close();

    // BYTES as lower-case hex digits into OUT (ROOM bytes, NUL-terminated); what does not fit
    // is left out.
    static void HexBytes(const uint8_t* bytes, size_t n, char* out, size_t room);

private:
    FILE* file_ = nullptr;
};

}  // namespace emulator
