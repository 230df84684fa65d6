#pragma once

#include <memory>
#include <string>

#include "emulator/drive/ConfigText.h"
#include "emulator/drive/EmulatedDriveFile.h"

namespace emulator {

// A drive set up as its configuration says (DriveSettings): the flash file loaded when it exists,
// else created erased; the disc put in; the faults, conditions and latency set. Shared by the
// emulators on the host, so that a drive's keys mean the same in each; the log (OpenLog) is left to
// the caller, which decides whether a log it cannot write stops it, and so are the link's keys
// (hold=, drop=).
class ConfiguredDrive {
public:
    // nullptr with PROBLEM ("PATH: cannot be read or does not hold 131072 bytes").
    static std::unique_ptr<EmulatedDriveFile> Start(const DriveSettings& settings, std::string& problem);

private:
    static bool BindFlash(EmulatedDriveFile& file, const DriveSettings& settings, std::string& problem);
    static void SetFaults(EmulatedDrive& drive, const DriveSettings& settings);
};

}  // namespace emulator
