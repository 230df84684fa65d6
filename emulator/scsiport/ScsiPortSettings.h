#pragma once

#include <stdint.h>

#include "emulator/drive/DriveConfig.h"
#include "emulator/drive/EmulatedDrive.h"

namespace emulator {

// What the emulated SCSI port driver serves, as its set-up tool stores it in the registry
// (HKLM\System\CurrentControlSet\Services\EmulatedScsiPort\Parameters, binary value "Settings")
// and the driver reads it when it loads: fixed-size records, so that the driver needs no parser.
// Both sides are built for the same Windows; Size and Version guard against a stale value.
// Texts the driver hands to the kernel are UTF-16; paths are NT paths ("\??\C:\...").
struct ScsiPortSettings {
    static constexpr uint32_t ExpectedMagic = 0x50535345;  // "ESSP"
    static constexpr uint32_t LayoutVersion = 1;
    static constexpr uint32_t MaxPorts = 8;
    static constexpr uint32_t MaxDrives = 8;
    static constexpr uint32_t PathRoom = 260;
    static constexpr uint32_t NameRoom = 64;

    struct Port {
        uint8_t Number;
        uint8_t Buses;                  // what its inquiry data report
        uint16_t DeviceName[NameRoom];  // NT name of the port device, NUL-terminated
    };

    struct Drive {
        uint8_t Port;  // port number
        uint8_t Bus;
        uint8_t Target;
        char Letter;              // drive letter of its DOS name, 0 for none
        uint32_t CdRomNumber;     // its device is \Device\CdRom<N>
        char MapType[NameRoom];  // the device map's "Type" value, NUL-terminated
        char MapDeviceName[NameRoom];  // its "DeviceName" value
        uint8_t HasMapDeviceName;       // 0: the unit key has no "DeviceName" value
        uint8_t IdentityCheckWithData;
        uint8_t Gone;
        uint8_t FaultCount;
        DriveConfig Config;
        EmulatedDrive::FaultRule Faults[EmulatedDrive::MaxFaultRules];
        uint32_t FailCommandNumber;
        uint32_t LatencyMilliseconds;
        uint16_t FlashPath[PathRoom];  // empty: the flash lives in memory only
        uint16_t LogPath[PathRoom];    // empty: no command log
    };

    uint32_t Magic;
    uint32_t Version;
    uint32_t Size;
    uint32_t PortCount;
    uint32_t DriveCount;
    uint16_t EventLogPath[PathRoom];  // the driver's own log of opens, controls and closes
    Port Ports[MaxPorts];
    Drive Drives[MaxDrives];
};

}  // namespace emulator
