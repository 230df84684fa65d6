#pragma once

#include <stddef.h>

#include <string>

namespace emulator {

// A text file that lines are added to, each handed to the system the moment it is added (one
// write, no buffer of our own), so that a process ended at any moment leaves every line added
// before. Host side (POSIX, or the C runtime's low-level files on Windows).
class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    // Empties the file at PATH (or makes it) and adds from its start; closes a file open before.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // LENGTH bytes of TEXT, the line end included; false when not all of them could be written.
    bool Add(const char* text, size_t length);

private:
    int fd_ = -1;
};

}  // namespace emulator
