#pragma once

#include <cstddef>
#include <cstdint>

// The NT storage stack's SCSI requests as the port driver reads them, defined here so that the
// transport and the simulated machine build without the platform's driver headers (the Win32
// build checks these against them). ULONG is 32 bits on every Windows; ULONG_PTR and pointers
// follow the target, so a 64-bit build gets the layout its own port driver expects.

// CTL_CODE(FILE_DEVICE_CONTROLLER, function, METHOD_BUFFERED, access).
constexpr uint32_t IoctlScsiGetInquiryData = 0x4100C;     // 0x403, any access
constexpr uint32_t IoctlScsiPassThrough = 0x4D004;        // 0x401, read and write access
constexpr uint32_t IoctlScsiPassThroughDirect = 0x4D014;  // 0x405, read and write access

constexpr uint8_t ScsiIoctlDataOut = 0;
constexpr uint8_t ScsiIoctlDataIn = 1;
constexpr uint8_t ScsiIoctlDataUnspecified = 2;

constexpr uint8_t ScsiStatusGood = 0x00;

// SCSI_PASS_THROUGH: the data travel inside the request's own buffer, DataBufferOffset bytes in.
struct ScsiPassThrough {
    uint16_t Length;  // sizeof the structure: the driver refuses any other revision
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;  // seconds
    uintptr_t DataBufferOffset;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

// SCSI_PASS_THROUGH_DIRECT: the driver maps the caller's buffer itself, nothing is copied.
struct ScsiPassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    void* DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

// The buffered command as handed to the driver, input and output alike. The filler puts the sense
// area at 48 and the data at 80 on 32-bit Windows, where NT's own pass-through callers put them.
struct PassThroughCommandArea {
    ScsiPassThrough Request;
    uint32_t Filler;
    uint8_t Sense[32];
    uint8_t Data[512];
};

// The direct command: request and sense only; the data stay where the caller has them.
struct DirectCommandArea {
    ScsiPassThroughDirect Request;
    uint32_t Filler;
    uint8_t Sense[32];
};

// SCSI_BUS_DATA: one entry per bus of the port's inquiry data.
struct ScsiBusData {
    uint8_t NumberOfLogicalUnits;
    uint8_t InitiatorBusId;
    uint32_t InquiryDataOffset;  // first unit's ScsiInquiryData, from the start of the answer
};

// SCSI_ADAPTER_BUS_INFO: the head of IOCTL_SCSI_GET_INQUIRY_DATA's answer; BusData has
// NumberOfBuses entries.
struct ScsiAdapterBusInfo {
    uint8_t NumberOfBuses;
    ScsiBusData BusData[1];
};

// SCSI_INQUIRY_DATA: one unit of a bus, chained through NextInquiryDataOffset (0 ends the chain).
struct ScsiInquiryData {
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t DeviceClaimed;
    uint32_t InquiryDataLength;
    uint32_t NextInquiryDataOffset;
    uint8_t InquiryData[1];
};

static_assert(sizeof(ScsiBusData) == 8, "SCSI_BUS_DATA layout");
static_assert(offsetof(ScsiAdapterBusInfo, BusData) == 4, "SCSI_ADAPTER_BUS_INFO layout");
static_assert(offsetof(ScsiInquiryData, InquiryData) == 12, "SCSI_INQUIRY_DATA layout");

#if defined(__i386__) || defined(_M_IX86)
// The 32-bit program hands these very bytes to the port drivers of NT 4 and later.
static_assert(sizeof(ScsiPassThrough) == 44, "SCSI_PASS_THROUGH is 44 bytes");
static_assert(offsetof(ScsiPassThrough, DataTransferLength) == 12, "SCSI_PASS_THROUGH layout");
static_assert(offsetof(ScsiPassThrough, TimeOutValue) == 16, "SCSI_PASS_THROUGH layout");
static_assert(offsetof(ScsiPassThrough, DataBufferOffset) == 20, "SCSI_PASS_THROUGH layout");
static_assert(offsetof(ScsiPassThrough, SenseInfoOffset) == 24, "SCSI_PASS_THROUGH layout");
static_assert(offsetof(ScsiPassThrough, Cdb) == 28, "SCSI_PASS_THROUGH layout");

static_assert(sizeof(ScsiPassThroughDirect) == 44, "SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(offsetof(ScsiPassThroughDirect, ScsiStatus) == 2, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, PathId) == 3, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, TargetId) == 4, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, Lun) == 5, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, CdbLength) == 6, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoLength) == 7, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, DataIn) == 8, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24, "SCSI_PASS_THROUGH_DIRECT layout");
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28, "SCSI_PASS_THROUGH_DIRECT layout");

static_assert(offsetof(PassThroughCommandArea, Sense) == 48, "sense area at 48");
static_assert(offsetof(PassThroughCommandArea, Data) == 80, "data area at 80");
static_assert(sizeof(PassThroughCommandArea) == 592, "buffered command area is 592 bytes");
static_assert(offsetof(DirectCommandArea, Sense) == 48, "sense area at 48");
static_assert(sizeof(DirectCommandArea) == 80, "direct command area is 80 bytes");
#endif
