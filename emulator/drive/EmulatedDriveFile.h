#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "emulator/drive/DriveConfig.h"
#include "emulator/drive/EmulatedDrive.h"

namespace emulator {

// An emulated drive that owns its storage and keeps its flash in a file, so that an upgrade
// survives the process: after every successful commit the committed flash is written back.
// Host side only (C and C++ standard library, plus Sleep on Windows for the latency).
//
// The flash file is the raw image, exactly config.flashSize bytes.
//
// Command log text format (WriteLog), one line per logged command, fields separated by one
// space, numbers in hex where prefixed with 0x and decimal otherwise:
//   NAME mode=M id=I offset=0xOOOOOO length=0xLLLLLL control=0xCC dir=D hostlength=0xHHHH
//        status=S sense=0xKK/0xAA/0xQQ            (all on one line)
// NAME is INQUIRY, READ_BUFFER, WRITE_BUFFER or OP_0xNN; D is none, in or out; offset and
// length are the CDB fields (the flash offset is id * 0x10000 + offset); sense is key/ASC/ASCQ,
// all zero for status 0. When more commands arrived than the log holds, a last line
//   # N commands, first M logged
// says so. Lines starting with '#' are never commands. Lines end in LF on every platform.
class EmulatedDriveFile {
public:
    // Storage for config.flashSize bytes, flash erased to 0xFF, no file bound yet.
    explicit EmulatedDriveFile(const DriveConfig& config);

    EmulatedDriveFile(const EmulatedDriveFile&) = delete;
    EmulatedDriveFile& operator=(const EmulatedDriveFile&) = delete;

    // Binds to an existing image and loads it. Fails (and binds nothing) when the file cannot
    // be read or its size is not config.flashSize.
    bool Open(const std::string& path);
    // Binds to path and writes the current flash there, replacing any file.
    bool Create(const std::string& path);
    const std::string& Path() const { return path_; }

    // Set the whole flash (and staging, as after power-up); saved at once when a file is bound.
    bool Fill(uint8_t value);
    // Repeats pattern over the flash; an empty pattern fills with 0xFF.
    bool FillPattern(const uint8_t* pattern, size_t length);
    bool SetFlash(const std::vector<uint8_t>& image);  // must be exactly flashSize bytes

    // Runs one command, waits the drive's latency, and saves the flash after a commit. A failed
    // save does not change the answer (the drive did commit); SaveFailed() tells.
    EmulatedDrive::Result Execute(const EmulatedDrive::Request& request);
    // Execute without the wait, for a caller that keeps the drive's time itself: the iSCSI target
    // serves several drives from one thread and sends the answer once the latency has passed.
    EmulatedDrive::Result ExecuteAtOnce(const EmulatedDrive::Request& request);
    bool SaveFailed() const { return saveFailed_; }
    bool Save();

    EmulatedDrive& Drive() { return drive_; }
    const EmulatedDrive& Drive() const { return drive_; }
    const std::vector<uint8_t>& FlashImage() const { return flash_; }

    bool WriteLog(const std::string& path) const;
    static std::string FormatLogEntry(const EmulatedDrive::LogEntry& entry);

private:
    bool AfterFlashChange();

    std::vector<uint8_t> flash_;
    std::vector<uint8_t> staging_;
    EmulatedDrive drive_;
    std::string path_;
    bool saveFailed_ = false;
};

}  // namespace emulator
