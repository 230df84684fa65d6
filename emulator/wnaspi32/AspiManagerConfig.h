#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "emulator/drive/ConfigText.h"

// What the emulator ASPI manager (wnaspi32.dll) serves: its support status, its host adapters and
// the emulated drives on them. The DLL reads it once, when it is first called, from the file named
// by the environment variable FLASHUPGRADE_ASPI_CONFIG, else from wnaspi32.cfg beside the DLL; with
// neither it serves one drive of the default kind at adapter 0, target 0, its flash in memory only.
//
// Text format: that of ConfigText, which also lists a drive's own keys. Statements:
//
//   manager adapters=N status=S        support information: adapter count (default: the highest
//                                      adapter named anywhere + 1) and status (default 0x01, ready)
//   adapter id=N targets=T status=S    host adapter inquiry of adapter N: HA_Unique byte 3 (default
//                                      8; 0 means 8 to the client) and status (default 0x01; 0x81
//                                      says there is no such adapter)
//   drive adapter=N target=T KEY=VALUE...       one emulated drive, LUN 0 of that target, with
//                                               the drive keys of ConfigText
//
// Example:
//   drive adapter=0 target=1 vendor=EMULATED product="DVD-RW FLASH" controller=0x6E15 major=1 minor=2
//         flash=drive0.bin log=drive0.log fail=write:0x14000:2          (all on one line)
class AspiManagerConfig {
public:
    static constexpr uint8_t DefaultMaxTargets = 8;

    struct Adapter {
        uint8_t Id = 0;
        uint8_t Status = 0x01;
        uint8_t MaxTargets = DefaultMaxTargets;
    };

    struct Drive : emulator::DriveSettings {
        uint8_t Adapter = 0;
        uint8_t Target = 0;
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

private:
    bool ParseStatement(size_t number, const std::string& statement, const emulator::ConfigText::Words& words,
                        const std::string& baseDirectory);
    bool ParseManager(size_t number, const emulator::ConfigText::Words& words);
    bool ParseAdapter(size_t number, const emulator::ConfigText::Words& words);
    bool ParseDrive(size_t number, const emulator::ConfigText::Words& words, const std::string& baseDirectory);
    bool Fail(size_t line, const std::string& reason);
    void Clear();

    int adapterCount_ = -1;
    std::string error_;
};
