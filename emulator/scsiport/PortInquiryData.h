#pragma once

#include <stddef.h>
#include <stdint.h>

#include "emulator/drive/DriveConfig.h"

namespace emulator {

// The answer of a SCSI port to IOCTL_SCSI_GET_INQUIRY_DATA: a SCSI_ADAPTER_BUS_INFO with one
// SCSI_BUS_DATA per bus, then per bus a chain of SCSI_INQUIRY_DATA entries, one per unit, each with
// the 36 bytes of standard INQUIRY data the port saw at boot. Freestanding, like the drive: built
// by the simulated NT machine of the tests and by the emulated port driver alike.
class PortInquiryData {
public:
    static constexpr uint32_t UnitInquiryLength = 36;
    static constexpr uint8_t InitiatorId = 7;

    // One unit: its place and what it reported; config null for a unit that is not an emulated
    // drive (reported as an unknown device type).
    struct Unit {
        uint8_t bus = 0;
        uint8_t target = 0;
        const DriveConfig* config = nullptr;
    };

    // Bytes needed for BUSES buses and COUNT units.
    static uint32_t Size(uint8_t buses, uint32_t count);

    // Writes the answer for BUSES buses; UNITS (COUNT of them) must be in ascending bus order,
    // units on a bus beyond BUSES are left out. Returns the bytes written, 0 when ROOM is short.
    static uint32_t Write(uint8_t buses, const Unit* units, uint32_t count, uint8_t* out, uint32_t room);
};

}  // namespace emulator
