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
void Decode(const uint8_t* system, PassThroughRequestHandler::Prepared& prepared) {
    Request request;
    CopyBytes(&request, system, sizeof request);
    prepared.length = request.Length;
    prepared.pathId = request.PathId;
    prepared.targetId = request.TargetId;
    prepared.lun = request.Lun;
    prepared.cdbLength = request.CdbLength;
    prepared.senseInfoLength = request.SenseInfoLength;
    prepared.dataIn = request.DataIn;
    prepared.dataTransferLength = request.DataTransferLength;
    prepared.timeOutValue = request.TimeOutValue;
    prepared.senseInfoOffset = request.SenseInfoOffset;
    CopyBytes(prepared.cdb, request.Cdb, sizeof prepared.cdb);
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
    prepared.direct = direct;
    const size_t requestSize = direct ? sizeof(ScsiPassThroughDirect) : sizeof(ScsiPassThrough);
    if (system == nullptr || inputLength < requestSize) {
        prepared.refusal = Refusal::InvalidParameter;
        return prepared;
    }
    if (direct) {
        Decode<ScsiPassThroughDirect>(system, prepared);
        ScsiPassThroughDirect request;
        CopyBytes(&request, system, sizeof request);
        prepared.dataBuffer = request.DataBuffer;
    } else {
        Decode<ScsiPassThrough>(system, prepared);
        ScsiPassThrough request;
        CopyBytes(&request, system, sizeof request);
        prepared.dataBufferOffset = request.DataBufferOffset;
    }

    if (prepared.length != requestSize) {
        prepared.refusal = Refusal::RevisionMismatch;
        return prepared;
    }
    if (prepared.cdbLength == 0 || prepared.cdbLength > sizeof prepared.cdb ||
        (prepared.senseInfoLength != 0 &&
         uint64_t{prepared.senseInfoOffset} + prepared.senseInfoLength > outputLength)) {
        prepared.refusal = Refusal::InvalidParameter;
        return prepared;
    }
    if (prepared.HasData()) {
        if (direct) {
            if (prepared.dataBuffer == nullptr) prepared.refusal = Refusal::InvalidParameter;
        } else {
            const uint64_t end = uint64_t{prepared.dataBufferOffset} + prepared.dataTransferLength;
            if (end > (prepared.DataIn() ? outputLength : inputLength)) {
                prepared.refusal = Refusal::InvalidParameter;
            } else {
                prepared.systemData = system + prepared.dataBufferOffset;
            }
        }
    }
    return prepared;
}

EmulatedDrive::Request PassThroughRequestHandler::DriveRequest(const Prepared& prepared, uint8_t* system,
                                                               uint8_t* data) {
    EmulatedDrive::Request command;
    // The CDB as read before the drive writes anything into the system buffer.
    command.cdb = prepared.cdb;
    command.cdbLength = prepared.cdbLength;
    command.direction = data == nullptr      ? EmulatedDrive::Direction::None
                        : prepared.DataIn() ? EmulatedDrive::Direction::In
                                             : EmulatedDrive::Direction::Out;
    command.data = data;
    command.dataLength = data != nullptr ? prepared.dataTransferLength : 0;
    command.sense = prepared.senseInfoLength != 0 ? system + prepared.senseInfoOffset : nullptr;
    command.senseLength = prepared.senseInfoLength;
    return command;
}

uint32_t PassThroughRequestHandler::Complete(const Prepared& prepared, uint8_t* system, uint32_t outputLength,
                                             const EmulatedDrive::Result& result) {
    size_t back;
    if (prepared.direct) {
        Store<ScsiPassThroughDirect>(system, result);
        back = sizeof(ScsiPassThroughDirect);
    } else {
        Store<ScsiPassThrough>(system, result);
        back = sizeof(ScsiPassThrough);
    }
    if (result.senseWritten != 0) back = Larger(back, size_t{prepared.senseInfoOffset} + result.senseWritten);
    if (!prepared.direct && prepared.DataIn() && prepared.systemData != nullptr) {
        back = Larger(back, prepared.dataBufferOffset + result.transferred);
    }
    return static_cast<uint32_t>(back < outputLength ? back : outputLength);
}

}  // namespace emulator
