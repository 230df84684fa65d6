#pragma once

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

private:
    FILE* file_ = nullptr;
};

}  // namespace emulator
