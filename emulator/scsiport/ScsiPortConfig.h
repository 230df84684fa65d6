#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "emulator/drive/ConfigText.h"
#include "emulator/scsiport/ScsiPortSettings.h"

// The machine the emulated SCSI port driver makes: its SCSI ports, the emulated CD/DVD drives
// behind them with their device names, drive letters and device map entries, and the driver's
// own log. Read from a file in the text format of emulator::ConfigText; statements:
//
//   port number=N device=NTNAME buses=B   SCSI port N, its device (default \Device\Ide\IdePortN)
//                                         with the DOS name ScsiN:, reporting B buses in its
//                                         inquiry data (default: one past its highest bus in use)
//   drive port=N bus=B target=T KEY=VALUE...    one emulated drive, logical unit 0 of that
//                                         target, with the drive keys of ConfigText and:
//       letter=X          its drive letter (default: E for the first drive, F for the next, ...;
//                         "-" for none)
//       cdrom=N           its device is \Device\CdRomN (default: its place among the drives)
//       devicename=TEXT   the device map's "DeviceName" value (default CdRomN; "-" for none)
//       maptype=TEXT      the device map's "Type" value (default CdRomPeripheral)
//   driver log=PATH       where the driver logs every open (with the access and sharing asked
//                         for), every I/O control with its envelope, and every close
//
// A port named by a drive but without a port statement gets the defaults.
class ScsiPortConfig {
public:
    struct Port {
        uint8_t Number = 0;
        std::string DeviceName;
        int Buses = -1;  // -1: one past the highest bus in use
    };

    struct Drive : emulator::DriveSettings {
        uint8_t Port = 0;
        uint8_t Bus = 0;
        uint8_t Target = 0;
        char Letter = 0;
        int CdRomNumber = -1;
        bool HasMapDeviceName = true;
        std::string MapDeviceName;  // empty: CdRomN
        std::string MapType = "CdRomPeripheral";
    };

    std::vector<Port> Ports;  // in ascending number once parsed
    std::vector<Drive> Drives;
    std::string EventLogPath;

    // Replaces the configuration with TEXT. On failure it is empty and Error() says why.
    bool Parse(const std::string& text, const std::string& baseDirectory);
    bool Load(const std::string& path);

    // The driver's settings. NT_PATH turns a file path of the configuration into the NT path the
    // driver opens (false when it cannot). False with Error() when something does not fit.
    bool ToSettings(emulator::ScsiPortSettings& settings,
                    const std::function<bool(const std::string&, std::u16string&)>& ntPath);

    const std::string& Error() const { return error_; }

private:
    bool ParseStatement(size_t number, const std::string& statement, const emulator::ConfigText::Words& words,
                        const std::string& baseDirectory);
    bool ParseDriver(size_t number, const emulator::ConfigText::Words& words, const std::string& baseDirectory);
    bool ParsePort(size_t number, const emulator::ConfigText::Words& words);
    bool ParseDrive(size_t number, const emulator::ConfigText::Words& words, const std::string& baseDirectory);
    // The keys of a drive's place on the bus and in the device map; HAVEPLACE: port, bus, target.
    static emulator::ConfigText::Keys PlaceKeys(Drive& place, bool (&havePlace)[3]);
    bool Finish();
    bool Fail(size_t line, const std::string& reason);
    Port* FindPort(uint8_t number);

    std::string error_;
};
