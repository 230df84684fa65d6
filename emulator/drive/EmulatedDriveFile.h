#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "emulator/drive/DriveConfig.h"
#include "emulator/drive/EmulatedDrive.h"
#include "emulator/drive/LogFile.h"
#include "emulator/drive/MediumFile.h"

namespace emulator {

// An emulated drive that owns its storage and keeps its flash in a file, so that an upgrade
// survives the process: every commit is written to the file before the drive answers it. Host
// side only (C and C++ standard library, plus Sleep and the file calls it needs on Windows).
//
// The flash file is the raw image, exactly config.flashSize bytes. It is never rewritten in place:
// each save replaces it whole (see WholeFile), so that a process killed or a disk found full at
// that moment leaves the old image whole. A commit whose save fails is answered MEDIUM ERROR,
// write error (03h/0Ch/00h), and the drive's flash stays as it was.
//
// Command log text format, one line per command, fields separated by one space, numbers in hex
// where prefixed with 0x and decimal otherwise:
//   NAME mode=M id=I offset=0xOOOOOO length=0xLLLLLL control=0xCC dir=D hostlength=0xHHHH
//        status=S sense=0xKK/0xAA/0xQQ            (all on one line)
// NAME is INQUIRY, READ_BUFFER, WRITE_BUFFER or OP_0xNN; D is none, in or out; offset and
// length are the CDB fields (the flash offset is id * 0x10000 + offset; for READ(10) the first
// block and the block count); sense is key/ASC/ASCQ, all zero for status 0. Lines end in LF on
// every platform. The log file (OpenLog) gets every command's line as the command runs; the text
// of the kept log (WriteLog) holds the first EmulatedDrive::LogCapacity commands and, when more
// came, a last line
//   # N commands, first M logged
// Lines starting with '#' are never commands.
class EmulatedDriveFile {
public:
    // Storage for config.flashSize bytes, flash erased to 0xFF, no file bound yet, no disc.
    explicit EmulatedDriveFile(const DriveConfig& config);

    EmulatedDriveFile(const EmulatedDriveFile&) = delete;
    EmulatedDriveFile& operator=(const EmulatedDriveFile&) = delete;

    // Binds to an existing image and loads it. Fails (and binds nothing) when the file cannot
    // be read or its size is not config.flashSize.
    bool Open(const std::string& path);
    // Binds to path and writes the current flash there, replacing any file.
    bool Create(const std::string& path);
    const std::string& Path() const { return path_; }

    // Puts the image at PATH into the drive as its disc (see MediumFile); false with PROBLEM, and
    // the drive is left without a disc.
    bool OpenMedium(const std::string& path, std::string& problem);

    // Set the whole flash (and staging, as after power-up); saved at once when a file is bound.
    bool Fill(uint8_t value);
    // Repeats pattern over the flash; an empty pattern fills with 0xFF.
    bool FillPattern(const uint8_t* pattern, size_t length);
    bool SetFlash(const std::vector<uint8_t>& image);  // must be exactly flashSize bytes

    // Runs one command (a commit saved before it is answered), adds its line to the log file and
    // waits the drive's latency.
    EmulatedDrive::Result Execute(const EmulatedDrive::Request& request);
    // Execute without the wait, for a caller that keeps the drive's time itself: the iSCSI target
    // serves several drives from one thread and sends the answer once the latency has passed.
    EmulatedDrive::Result ExecuteAtOnce(const EmulatedDrive::Request& request);
    // The last save failed, that of a commit included; the next one that succeeds clears it.
    bool SaveFailed() const { return saveFailed_; }
    bool Save();

    EmulatedDrive& Drive() { return drive_; }
    const EmulatedDrive& Drive() const { return drive_; }
    const std::vector<uint8_t>& FlashImage() const { return flash_; }

    // The log file at PATH: emptied now (a stale one from an earlier run would mislead), then each
    // command's line added as the command runs (see LogFile), so that a process ended at any moment
    // leaves every answered command in it. False when it cannot be written.
    bool OpenLog(const std::string& path);
    // A line could not be added since OpenLog.
    bool LogFailed() const { return logFailed_; }
    // The kept log, whole, into PATH.
    bool WriteLog(const std::string& path) const;
    static std::string FormatLogEntry(const EmulatedDrive::LogEntry& entry);

private:
    bool AfterFlashChange();
    // Saves IMAGE (flashSize bytes) whole into the bound file.
    bool Store(const uint8_t* image);
    static bool KeepCommitted(void* self, const uint8_t* image, uint32_t size);
    void LogLastCommand();

    std::vector<uint8_t> flash_;
    std::vector<uint8_t> staging_;
    EmulatedDrive drive_;
    MediumFile medium_;
    std::string path_;
    bool saveFailed_ = false;
    LogFile log_;
    bool logFailed_ = false;
};

}  // namespace emulator
