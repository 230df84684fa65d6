#pragma once

#include <stddef.h>
#include <stdint.h>

#include "emulator/drive/EmulatedDrive.h"
#include "emulator/scsiport/PassThroughRequest.h"
#include "transport/ScsiPassThrough.h"

namespace emulator {

// What a SCSI port driver does with IOCTL_SCSI_PASS_THROUGH(_DIRECT) when an EmulatedDrive stands
// behind it. Both controls are METHOD_BUFFERED: the driver works on one system buffer that holds
// the caller's input and is as long as the longer of input and output; what it reports as
// returned is copied back to the caller's output. Shared by the simulated NT machine of the tests
// and the emulated port driver, so that both answer alike. Freestanding, like the drive.
//
// The handler never touches the caller's memory itself: the direct form's data buffer lies in the
// caller's address space, which only the caller of the handler knows how to reach.
class PassThroughRequestHandler {
public:
    enum class Refusal : uint8_t {
        None,
        RevisionMismatch,  // Length is not the size of the structure this build knows
        InvalidParameter,  // too short, a CDB length out of range, sense or data outside the buffers
    };

    struct Prepared {
        Refusal refusal = Refusal::None;
        PassThroughRequest request;

        // Where the data go: inside the system buffer for the buffered form (null for the direct
        // form and for requests without data).
        uint8_t* systemData = nullptr;
        bool HasData() const { return request.DataTransferLength != 0; }
        bool DataIn() const { return request.DataIn != ScsiIoctlDataOut; }
    };

    // Reads and checks the request at the start of SYSTEM (inputLength bytes of input; the buffer
    // holds the larger of the two lengths).
    static Prepared Prepare(uint8_t* system, uint32_t inputLength, uint32_t outputLength, bool direct);

    // The drive's request, its data at DATA (the system buffer's for the buffered form, a local
    // copy of the caller's buffer for the direct form), its sense into the system buffer.
    static EmulatedDrive::Request DriveRequest(const Prepared& prepared, uint8_t* system, uint8_t* data);

    // Writes the drive's result into the request and returns how many bytes of the system buffer
    // go back to the caller.
    static uint32_t Complete(const Prepared& prepared, uint8_t* system, uint32_t outputLength,
                             const EmulatedDrive::Result& result);
};

}  // namespace emulator
