#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "emulator/DriveConfig.h"
#include "emulator/EmulatedDrive.h"

// What the emulator ASPI manager (wnaspi32.dll) serves: its support status, its host adapters and
// the emulated drives on them. The DLL reads it once, when it is first called, from the file named
// by the environment variable FLASHUPGRADE_ASPI_CONFIG, else from wnaspi32.cfg beside the DLL; with
// neither it serves one drive of the default kind at adapter 0, target 0, its flash in memory only.
//
// Text format: one statement per line, words separated by blanks, '#' starts a comment. A word is
// KEY=VALUE; a value may be put in double quotes to hold blanks or '#'. Numbers are decimal, or hex
// with 0x. Relative paths are relative to the directory of the configuration file.
//
//   manager adapters=N status=S        support information: adapter count (default: the highest
//                                      adapter named anywhere + 1) and status (default 0x01, ready)
//   adapter id=N targets=T status=S    host adapter inquiry of adapter N: HA_Unique byte 3 (default
//                                      8; 0 means 8 to the client) and status (default 0x01; 0x81
//                                      says there is no such adapter)
//   drive adapter=N target=T KEY=VALUE...       one emulated drive, LUN 0 of that target:
//       vendor=TEXT product=TEXT revision=TEXT  INQUIRY texts, at most 8, 16 and 4 characters
//       type=N                                  peripheral device type (default 5, CD/DVD)
//       maker=W controller=W major=N minor=N    words of the identity block (defaults 0x4A7C, 0x6E15,
//                                               1, 0)
//       sizekib=N                               flash size word of the identity block (default 0: the
//                                               controller's usual size)
//       flashsize=N                             bytes of flash the drive really has (default sizekib *
//                                               1024, else the controller's usual size, else 128 KiB)
//       versionat=OFFSET                        report the two version words found in flash there,
//                                               so that a committed image changes the version
//       flash=PATH                              flash image: loaded when the file exists (it must
//                                               hold flashsize bytes), else created erased (0xFF);
//                                               written again after every commit
//       log=PATH                                command log, rewritten after every command
//       latency=MS                              time each command takes
//       fail=KIND[:OFFSET[:TIMES]]              CHECK CONDITION for TIMES (default 1, or "forever")
//                                               commands of KIND (any, inquiry, identity, dump,
//                                               readback, write, commit) whose flash range holds
//                                               OFFSET (default or "*": any); may be repeated
//       corrupt=OFFSET[:TIMES]                  flip the byte at OFFSET in TIMES read-backs
//       failnth=N                               fail the N-th command the drive receives
//       identitycheck=1                         answer the identity query with CHECK CONDITION and
//                                               valid data
//       gone=1                                  answer every command with NOT READY
//
// Example:
//   drive adapter=0 target=1 vendor=EMULATED product="DVD-RW FLASH" controller=0x6E15 major=1 minor=2
//         flash=drive0.bin log=drive0.log fail=write:0x14000:2          (all on one line)
class AspiManagerConfig {
public:
    static constexpr uint8_t DefaultMaxTargets = 8;
    static constexpr uint32_t DefaultFlashSize = 0x20000;
    static constexpr uint32_t MaxFlashSize = 0x1000000;
    static constexpr size_t MaxFileSize = 0x10000;
    static constexpr size_t MaxFaults = emulator::EmulatedDrive::kMaxFaultRules;

    struct Adapter {
        uint8_t Id = 0;
        uint8_t Status = 0x01;
        uint8_t MaxTargets = DefaultMaxTargets;
    };

    struct Drive {
        uint8_t Adapter = 0;
        uint8_t Target = 0;
        emulator::DriveConfig Config;
        std::string FlashPath;
        std::string LogPath;
        uint32_t LatencyMilliseconds = 0;
        std::vector<emulator::EmulatedDrive::FaultRule> Faults;
        uint32_t FailCommandNumber = 0;
        bool IdentityCheckWithData = false;
        bool Gone = false;
    };

    uint8_t SupportStatus = 0x01;
    std::vector<Adapter> Adapters;
    std::vector<Drive> Drives;

    // Replaces the whole configuration with TEXT. On failure the configuration is empty and Error()
    // names the line and the reason.
    bool Parse(const std::string& text, const std::string& baseDirectory);
    // Parse of a file's content, relative paths taken from the file's directory.
    bool Load(const std::string& path);
    // The configuration used when no file is named: one drive at adapter 0, target 0.
    void SetDefault();

    // The adapter count of the support information: the manager line's, else one past the highest
    // adapter named.
    uint8_t AdapterCount() const;
    // The inquiry answer of adapter ID (the defaults for one without an adapter line).
    Adapter AdapterAnswer(uint8_t id) const;
    // Index into Drives of the drive at that place, or -1.
    int DriveAt(uint8_t adapter, uint8_t target) const;

    const std::string& Error() const { return error_; }

    static std::string DirectoryOf(const std::string& path);
    // PATH when it is absolute (a leading slash or backslash, or a drive letter), else BASE/PATH.
    static std::string Resolve(const std::string& base, const std::string& path);

private:
    bool ParseLine(const std::string& line, size_t number, const std::string& baseDirectory);
    bool Fail(size_t line, const std::string& reason);
    void Clear();

    int adapterCount_ = -1;
    std::string error_;
};
