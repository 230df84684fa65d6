#pragma once

#include <cstddef>
#include <cstdint>

// One candidate drive: where it sits on the storage bus, which controller it carries, its firmware
// version and flash size, and the identification texts it reported. A plain fixed-size record that
// is always copied and cleared whole (assignment, memset), never field by field.
struct DeviceRecord {
    // Linux: SCSI host, channel and target, each at most 255 (a larger number reads 255; the SG_IO
    // transport keeps the whole address beside the record).
    uint8_t PortNumber;      // SCSI port N (\\.\ScsiN:); pass-through only, 0 on ASPI
    uint8_t PathId;          // pass-through: bus on that port; ASPI: host adapter number
    uint8_t TargetId;
    uint8_t Lun;             // no scan sets it: every command addresses unit 0
    uint16_t ControllerId;   // one of the three accepted controller ids
    uint16_t VersionMajor;
    uint16_t VersionMinor;
    uint32_t FlashSize;      // bytes
    char Vendor[9];          // 8 bytes exactly as the drive sent them, then NUL (never written)
    char Product[17];        // 16 bytes exactly as sent, then NUL (never written)
    char DosDeviceName[64];  // pass-through: "D:" and the like; Linux: the node, "/dev/sr0"; all zero on ASPI
};

static_assert(offsetof(DeviceRecord, PortNumber) == 0, "record layout");
static_assert(offsetof(DeviceRecord, PathId) == 1, "record layout");
static_assert(offsetof(DeviceRecord, TargetId) == 2, "record layout");
static_assert(offsetof(DeviceRecord, Lun) == 3, "record layout");
static_assert(offsetof(DeviceRecord, ControllerId) == 4, "record layout");
static_assert(offsetof(DeviceRecord, VersionMajor) == 6, "record layout");
static_assert(offsetof(DeviceRecord, VersionMinor) == 8, "record layout");
static_assert(offsetof(DeviceRecord, FlashSize) == 12, "record layout");
static_assert(offsetof(DeviceRecord, Vendor) == 16, "record layout");
static_assert(offsetof(DeviceRecord, Product) == 25, "record layout");
static_assert(offsetof(DeviceRecord, DosDeviceName) == 42, "record layout");
static_assert(sizeof(DeviceRecord) == 108, "record layout");

// Clears every byte, padding included, so that two records compare equal byte for byte.
void ClearDeviceRecord(DeviceRecord& record);
