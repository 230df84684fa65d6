#pragma once

#include <stdint.h>

#include "emulator/drive/EmulatedDrive.h"
#include "transport/AspiRequestBlocks.h"

// What an ASPI manager does with a request block when an EmulatedDrive stands behind it: answers a
// host adapter inquiry, turns a SCSI request into the drive's request and the drive's result back
// into the block. Shared by the emulator DLL and the simulated manager of the tests, so that both
// answer alike. It never writes SRB_Status: the caller does that last, when it chooses to complete.
class AspiRequestHandler {
public:
    static constexpr uint8_t HostAdapterScsiId = 7;
    // Largest transfer the emulated adapters claim (HA_Unique bytes 4-7).
    static constexpr uint32_t MaxTransferLength = 0x10000;

    // Fills every answer field of a host adapter inquiry, HA_Unique byte 3 with maxTargets.
    static void AnswerHostAdapterInquiry(SRB_HAInquiry& block, uint8_t adapterCount, uint8_t maxTargets);

    // The drive's request for a SCSI request block: data straight to or from SRB_BufPointer, sense
    // into the block's SenseArea. Returns SS_PENDING when the drive is to run it, otherwise the
    // status that ends a malformed block.
    static uint8_t PrepareDriveRequest(SRB_ExecSCSICmd& block, emulator::EmulatedDrive::Request& request);

    // Adapter and target status from the drive's result; returns the status that completes the block.
    static uint8_t FinishDriveRequest(SRB_ExecSCSICmd& block, const emulator::EmulatedDrive::Result& result);

    // Nothing answers at that target (or LUN): the adapter's selection timed out.
    static uint8_t NoDevice(SRB_ExecSCSICmd& block);
};
