#pragma once

#include <cstddef>
#include <cstdint>

// The two ASPI for Win32 request blocks the transport sends, laid out byte for byte as the manager
// reads them: packed, little-endian, pointers of the platform's width. The names are the manager's
// own, so that a block can be read against any description of the interface.

// Request codes (SRB_Cmd).
constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;

// Request status (SRB_Status). The manager writes it last; SS_PENDING is what a fresh block holds.
constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;
constexpr uint8_t SS_INVALID_SRB = 0xE0;
constexpr uint8_t SS_FAILED_INIT = 0xE4;
constexpr uint8_t SS_ASPI_IS_BUSY = 0xE5;
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

// Request flags (SRB_Flags).
constexpr uint8_t SRB_POSTING = 0x01;
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

// Host adapter and target status of a completed SCSI request.
constexpr uint8_t HASTAT_OK = 0x00;
constexpr uint8_t HASTAT_SEL_TO = 0x11;
constexpr uint8_t STATUS_GOOD = 0x00;
constexpr uint8_t STATUS_CHKCOND = 0x02;

// Sense bytes the transport asks for; the block has room for two more.
constexpr uint8_t SENSE_LEN = 14;

#pragma pack(push, 1)

// SC_HA_INQUIRY: what a host adapter is and how many targets it has (HA_Unique byte 3).
struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    uint8_t HA_ManagerId[16];
    uint8_t HA_Identifier[16];
    uint8_t HA_Unique[16];
    uint16_t HA_Rsvd1;
};

// SC_EXEC_SCSI_CMD: one SCSI command to a target of an adapter. The manager moves the data
// straight to or from SRB_BufPointer and completes the request later, from its own context.
struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[SENSE_LEN + 2];
};

#pragma pack(pop)

// The header and everything before the first pointer sit where the manager expects them whatever
// the pointer width.
static_assert(offsetof(SRB_HAInquiry, SRB_Cmd) == 0, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, SRB_Status) == 1, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, SRB_HaId) == 2, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, SRB_Flags) == 3, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, SRB_Hdr_Rsvd) == 4, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58, "SRB_HAInquiry layout");
static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry layout");

static_assert(offsetof(SRB_ExecSCSICmd, SRB_Cmd) == 0, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Hdr_Rsvd) == 4, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd1) == 10, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "SRB_ExecSCSICmd layout");

// The 32-bit manager, the one the program meets on Windows 95/98, reads the rest at these places.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "SRB_ExecSCSICmd layout");
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd layout");
#endif

// The manager completes a request from another thread: the reader of SRB_Status must fetch it from
// memory on every look, and what the manager wrote before it (data, sense, adapter and target
// status) must be visible once it has changed.
inline uint8_t LoadRequestStatus(const uint8_t& status) {
    return __atomic_load_n(&status, __ATOMIC_ACQUIRE);
}

// The manager's side: everything else of the block and the data first, the status last.
inline void StoreRequestStatus(uint8_t& status, uint8_t value) {
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    __atomic_store_n(&status, value, __ATOMIC_RELEASE);
}
