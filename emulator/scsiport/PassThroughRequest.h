#pragma once

#include <stdint.h>

namespace emulator {

// A pass-through request of either form as its caller filled it in, the fields named as the
// platform's structures name them. One record for everything that reads a request: the port
// driver, the simulated NT machine and the tests that look at what the transport sent. Copied
// whole.
struct PassThroughRequest {
    bool Direct = false;  // SCSI_PASS_THROUGH_DIRECT rather than SCSI_PASS_THROUGH
    uint16_t Length = 0;
    uint8_t ScsiStatus = 0;
    uint8_t PathId = 0;
    uint8_t TargetId = 0;
    uint8_t Lun = 0;
    uint8_t CdbLength = 0;
    uint8_t SenseInfoLength = 0;
    uint8_t DataIn = 0;
    uint32_t DataTransferLength = 0;
    uint32_t TimeOutValue = 0;
    uintptr_t DataBufferOffset = 0;  // buffered form
    void* DataBuffer = nullptr;      // direct form: an address in the caller's process
    uint32_t SenseInfoOffset = 0;
    uint8_t Cdb[16] = {};
};

}  // namespace emulator
