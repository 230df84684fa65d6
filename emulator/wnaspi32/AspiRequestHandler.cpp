#include "emulator/wnaspi32/AspiRequestHandler.h"

#include <string.h>

using emulator::EmulatedDrive;

namespace {

void PutText(uint8_t* field, size_t size, const char* text) {
    memset(field, ' ', size);
    const size_t length = strlen(text);
    memcpy(field, text, length < size ? length : size);
}

}  // namespace

void AspiRequestHandler::AnswerHostAdapterInquiry(SRB_HAInquiry& block, uint8_t adapterCount, uint8_t maxTargets) {
    block.HA_Count = adapterCount;
    block.HA_SCSI_ID = HostAdapterScsiId;
    PutText(block.HA_ManagerId, sizeof block.HA_ManagerId, "ASPI for WIN32");
    PutText(block.HA_Identifier, sizeof block.HA_Identifier, "EMULATED ADAPTER");
    memset(block.HA_Unique, 0, sizeof block.HA_Unique);
    // Bytes 0-1: buffer alignment mask (none), 2: residual byte count not reported.
    block.HA_Unique[3] = maxTargets;
    block.HA_Unique[4] = static_cast<uint8_t>(MaxTransferLength);
    block.HA_Unique[5] = static_cast<uint8_t>(MaxTransferLength >> 8);
    block.HA_Unique[6] = static_cast<uint8_t>(MaxTransferLength >> 16);
    block.HA_Unique[7] = static_cast<uint8_t>(MaxTransferLength >> 24);
    block.HA_Rsvd1 = 0;
}

uint8_t AspiRequestHandler::PrepareDriveRequest(SRB_ExecSCSICmd& block, EmulatedDrive::Request& request) {
    if (block.SRB_CDBLen == 0 || block.SRB_CDBLen > sizeof block.CDBByte) return SS_INVALID_SRB;
    request = EmulatedDrive::Request();
    request.cdb = block.CDBByte;
    request.cdbLength = block.SRB_CDBLen;
    // Both direction bits mean "no transfer"; neither leaves the direction to the command, which
    // the drive then sees as none and refuses, so that such a client shows in the drive's log.
    switch (block.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT)) {
    case SRB_DIR_IN:
        request.direction = EmulatedDrive::Direction::In;
        break;
    case SRB_DIR_OUT:
        request.direction = EmulatedDrive::Direction::Out;
        break;
    default:
        request.direction = EmulatedDrive::Direction::None;
        break;
    }
    request.data = block.SRB_BufPointer;
    request.dataLength = block.SRB_BufLen;
    request.sense = block.SenseArea;
    request.senseLength = block.SRB_SenseLen < sizeof block.SenseArea ? block.SRB_SenseLen : sizeof block.SenseArea;
    return SS_PENDING;
}

uint8_t AspiRequestHandler::FinishDriveRequest(SRB_ExecSCSICmd& block, const EmulatedDrive::Result& result) {
    block.SRB_HaStat = HASTAT_OK;
    block.SRB_TargStat = result.status;
    return result.status == EmulatedDrive::StatusGood ? SS_COMP : SS_ERR;
}

uint8_t AspiRequestHandler::NoDevice(SRB_ExecSCSICmd& block) {
    block.SRB_HaStat = HASTAT_SEL_TO;
    block.SRB_TargStat = STATUS_GOOD;
    return SS_ERR;
}
