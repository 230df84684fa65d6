#include "emulator/scsiport/PassThroughRequestHandler.h"

namespace emulator {

namespace {

// The drive's code calls no library; neither does this.
void CopyBytes(void* to, const void* from, size_t count) {
    uint8_t* out = static_cast<uint8_t*>(to);
    const uint8_t* in = static_cast<const uint8_t*>(from);
    for (size_t i = 0; i < count; ++i) out[i] = in[i];
}

template <typename Request>
void Decode(const uint8_t* system, PassThroughRequest& out) {
    Request request;
    CopyBytes(&request, system, sizeof request);
    out.Length = request.Length;
    out.ScsiStatus = request.ScsiStatus;
    out.PathId = request.PathId;
    out.TargetId = request.TargetId;
    out.Lun = request.Lun;
    out.CdbLength = request.CdbLength;
    out.SenseInfoLength = request.SenseInfoLength;
    out.DataIn = request.DataIn;
    out.DataTransferLength = request.DataTransferLength;
    out.TimeOutValue = request.TimeOutValue;
    out.SenseInfoOffset = request.SenseInfoOffset;
    CopyBytes(out.Cdb, request.Cdb, sizeof out.Cdb);
}

// The port driver's answer for the results of one command, written back into the request.
template <typename Request>
void Store(uint8_t* system, const EmulatedDrive::Result& result) {
    Request request;
    CopyBytes(&request, system, sizeof request);
    request.ScsiStatus = result.status;
    request.DataTransferLength = result.transferred;
    request.SenseInfoLength = static_cast<uint8_t>(result.senseWritten);
    CopyBytes(system, &request, sizeof request);
}

size_t Larger(size_t a, size_t b) {
    return a > b ? a : b;
}

}  // namespace

PassThroughRequestHandler::Prepared PassThroughRequestHandler::Prepare(uint8_t* system, uint32_t inputLength,
                                                                       uint32_t outputLength, bool direct) {
    Prepared prepared;
    PassThroughRequest& request = prepared.request;
    request.Direct = direct;
    const size_t requestSize = direct ? sizeof(ScsiPassThroughDirect) : sizeof(ScsiPassThrough);
    if (system == nullptr || inputLength < requestSize) {
        prepared.refusal = Refusal::InvalidParameter;
        return prepared;
    }
    if (direct) {
        Decode<ScsiPassThroughDirect>(system, request);
        ScsiPassThroughDirect platform;
        CopyBytes(&platform, system, sizeof platform);
        request.DataBuffer = platform.DataBuffer;
    } else {
        Decode<ScsiPassThrough>(system, request);
        ScsiPassThrough platform;
        CopyBytes(&platform, system, sizeof platform);
        request.DataBufferOffset = platform.DataBufferOffset;
    }

    if (request.Length != requestSize) {
        prepared.refusal = Refusal::RevisionMismatch;
        return prepared;
    }
    if (request.CdbLength == 0 || request.CdbLength > sizeof request.Cdb ||
        (request.SenseInfoLength != 0 && uint64_t{request.SenseInfoOffset} + request.SenseInfoLength > outputLength)) {
        prepared.refusal = Refusal::InvalidParameter;
        return prepared;
    }
    if (prepared.HasData()) {
        if (direct) {
            if (request.DataBuffer == nullptr) prepared.refusal = Refusal::InvalidParameter;
        } else {
            const uint64_t end = uint64_t{request.DataBufferOffset} + request.DataTransferLength;
            if (end > (prepared.DataIn() ? outputLength : inputLength)) {
                prepared.refusal = Refusal::InvalidParameter;
            } else {
                prepared.systemData = system + request.DataBufferOffset;
            }
        }
    }
    return prepared;
}

EmulatedDrive::Request PassThroughRequestHandler::DriveRequest(const Prepared& prepared, uint8_t* system,
                                                               uint8_t* data) {
    EmulatedDrive::Request command;
    // The CDB as read before the drive writes anything into the system buffer.
    command.cdb = prepared.request.Cdb;
    command.cdbLength = prepared.request.CdbLength;
    command.direction = data == nullptr      ? EmulatedDrive::Direction::None
                        : prepared.DataIn() ? EmulatedDrive::Direction::In
                                             : EmulatedDrive::Direction::Out;
    command.data = data;
    command.dataLength = data != nullptr ? prepared.request.DataTransferLength : 0;
    command.sense = prepared.request.SenseInfoLength != 0 ? system + prepared.request.SenseInfoOffset : nullptr;
    command.senseLength = prepared.request.SenseInfoLength;
    return command;
}

uint32_t PassThroughRequestHandler::Complete(const Prepared& prepared, uint8_t* system, uint32_t outputLength,
                                             const EmulatedDrive::Result& result) {
    size_t back;
    if (prepared.request.Direct) {
        Store<ScsiPassThroughDirect>(system, result);
        back = sizeof(ScsiPassThroughDirect);
    } else {
        Store<ScsiPassThrough>(system, result);
        back = sizeof(ScsiPassThrough);
    }
    if (result.senseWritten != 0) back = Larger(back, size_t{prepared.request.SenseInfoOffset} + result.senseWritten);
    if (!prepared.request.Direct && prepared.DataIn() && prepared.systemData != nullptr) {
        back = Larger(back, prepared.request.DataBufferOffset + result.transferred);
    }
    return static_cast<uint32_t>(back < outputLength ? back : outputLength);
}

}  // namespace emulator
