#pragma once

#include <stddef.h>

#include "emulator/drive/EmulatedDrive.h"

namespace emulator {

// The drive's command log as text, one line per command (format: see EmulatedDriveFile). Built
// without library calls, so that the kernel driver writes the same lines as the host side.
class DriveLogText {
public:
    static constexpr size_t LineRoom = 160;

    // One command, without the line end. Returns its length.
    static size_t FormatEntry(const EmulatedDrive::LogEntry& entry, char* out, size_t room);
    // "# N commands, first M logged" when more commands came than the log holds; else 0.
    static size_t FormatOverflow(const EmulatedDrive& drive, char* out, size_t room);
};

}  // namespace emulator
