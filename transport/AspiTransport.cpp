#include "transport/AspiTransport.h"

#include <cstring>

namespace {

constexpr uint32_t SupportStatusShift = 8;
constexpr uint32_t ByteMask = 0xFF;
constexpr size_t HaUniqueMaxTargets = 3;

}  // namespace

AspiTransport::AspiTransport(AspiApi& api) : library_(LibraryTraits{api}, api.LoadLibraryNamed(LibraryName)) {
    if (library_.IsOpen()) {
        // Both are looked up even when the first is missing, as the manager's clients always have.
        const AspiApi::Procedure supportInfo = api.FindEntryPoint(library_.Get(), SupportInfoName);
        const AspiApi::Procedure sendCommand = api.FindEntryPoint(library_.Get(), SendCommandName);
        if (supportInfo != nullptr && sendCommand != nullptr) {
            getSupportInfo_ = reinterpret_cast<AspiApi::SupportInfoEntry>(supportInfo);
            sendCommand_ = reinterpret_cast<AspiApi::SendCommandEntry>(sendCommand);
            const uint32_t info = getSupportInfo_();
            if (((info >> SupportStatusShift) & ByteMask) == SS_COMP) {
                AdapterCount = info & ByteMask;
                Usable = 1;
            }
        }
        if (!Usable) ReleaseLibrary();
    }
    ClearDeviceRecord(CurrentDevice);
}

// The library holder releases what is still held.
AspiTransport::~AspiTransport() = default;

void AspiTransport::ReleaseLibrary() {
    getSupportInfo_ = nullptr;
    sendCommand_ = nullptr;
    library_.Close();
}

uint32_t AspiTransport::TargetCount(uint8_t adapter) {
    if (sendCommand_ == nullptr) return 0;
    SRB_HAInquiry inquiry;
    std::memset(&inquiry, 0, sizeof inquiry);
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = adapter;
    sendCommand_(&inquiry);
    // The inquiry completes within the call; it is not polled.
    const uint8_t status = LoadRequestStatus(inquiry.SRB_Status);
    // SS_INVALID_HA has no targets. Neither has an adapter that failed its inquiry in another way:
    // its count would be whatever the previous adapter had.
    if (status != SS_COMP) return 0;
    const uint8_t maxTargets = inquiry.HA_Unique[HaUniqueMaxTargets];
    return maxTargets == 0 ? DefaultTargetCount : maxTargets;
}

void AspiTransport::EnumerateDevices(DeviceList& list) {
    // A counter of its own: PathId is 8 bits wide and AdapterCount may be 255 or more.
    for (uint32_t adapter = 0; adapter < AdapterCount && adapter <= ByteMask; ++adapter) {
        CurrentDevice.PathId = static_cast<uint8_t>(adapter);
        const uint32_t targets = TargetCount(CurrentDevice.PathId);
        for (uint32_t target = 0; target < targets; ++target) {
            CurrentDevice.TargetId = static_cast<uint8_t>(target);
            if (InquireDevice() && IdentifyController()) list.Append(CurrentDevice);
        }
    }
    ClearDeviceRecord(CurrentDevice);
}

int AspiTransport::InquireDevice() {
    if (!Query(DriveCommandSet::Inquiry(DriveCommandSet::AspiAllocationLength))) return 0;
    return DriveCommandSet::AcceptInquiry(answer_, sizeof answer_, CurrentDevice);
}

int AspiTransport::IdentifyController() {
    // Only SS_COMP lets the answer be judged: a drive that fills the buffer and still reports
    // CHECK CONDITION completes with SS_ERR and is refused here.
    if (!Query(DriveCommandSet::IdentityQuery(DriveCommandSet::AspiAllocationLength))) return 0;
    return DriveCommandSet::AcceptIdentity(answer_, sizeof answer_, CurrentDevice);
}

int AspiTransport::OpenDevice(const DeviceRecord& record) {
    // Nothing to open: a drive that has gone away shows only when its first command fails.
    CurrentDevice = record;
    return 1;
}

void AspiTransport::CloseDevice() {}

int AspiTransport::ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Execute(DriveCommandSet::ReadBackChunk(bufferId, offset, length), SRB_DIR_IN, buffer, length);
}

int AspiTransport::DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Execute(DriveCommandSet::DumpFirmwareChunk(bufferId, offset, length), SRB_DIR_IN, buffer, length);
}

int AspiTransport::WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Execute(DriveCommandSet::WriteFirmwareChunk(bufferId, offset, length), SRB_DIR_OUT, buffer, length);
}

int AspiTransport::CommitFirmware() { return Execute(DriveCommandSet::CommitFirmware(), SRB_DIR_OUT, nullptr, 0); }

int AspiTransport::Query(const CommandDescriptorBlock& cdb) {
    std::memset(answer_, 0, sizeof answer_);
    return Execute(cdb, SRB_DIR_IN, answer_, sizeof answer_);
}

int AspiTransport::Execute(const CommandDescriptorBlock& cdb, uint8_t direction, uint8_t* buffer, uint32_t length) {
    if (sendCommand_ == nullptr || cdb.Length > sizeof cdb.Bytes) return 0;
    SRB_ExecSCSICmd request;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = CurrentDevice.PathId;
    // No SRB_POSTING, no SRB_EVENT_NOTIFY: completion is seen only by polling the status.
    request.SRB_Flags = direction;
    request.SRB_Target = CurrentDevice.TargetId;
    request.SRB_Lun = CurrentDevice.Lun;
    request.SRB_BufLen = length;
    request.SRB_BufPointer = buffer;
    request.SRB_SenseLen = SENSE_LEN;
    request.SRB_CDBLen = cdb.Length;
    std::memcpy(request.CDBByte, cdb.Bytes, cdb.Length);

    sendCommand_(&request);
    uint8_t status = LoadRequestStatus(request.SRB_Status);
    while (status == SS_PENDING) {
        status = LoadRequestStatus(request.SRB_Status);
    }
    return status == SS_COMP ? 1 : 0;
}
