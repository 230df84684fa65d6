#include "upgrade/ChunkLoop.h"

#include <cstring>

namespace {

uint32_t ChunkAt(uint32_t offset, uint32_t flashSize) {
    // A flash size that is not a multiple of the chunk length ends in a short chunk, so no transfer
    // or compare reaches past the flash-size buffers.
    const uint32_t left = flashSize - offset;
    return left < ChunkLoop::ChunkLength ? left : ChunkLoop::ChunkLength;
}

uint8_t BufferId(uint32_t offset) { return static_cast<uint8_t>(offset >> 16); }

uint16_t BufferOffset(uint32_t offset) { return static_cast<uint16_t>(offset); }

}  // namespace

ChunkLoop::ChunkLoop(DriveTransport& transport, SleepApi& sleep, OperationSink& sink, OperationOutcome& outcome)
    : transport_(transport), sleep_(sleep), sink_(sink), outcome_(outcome) {}

bool ChunkLoop::MayRetry(uint32_t offset, OperationOutcome::Phase phase, int& failures) {
    ++failures;
    // A compare fails in memory: the transport has nothing to say about it.
    const TransportFailure reason =
        phase == OperationOutcome::Phase::Compare ? TransportFailure() : transport_.LastFailure();
    sink_.AttemptFailed(offset, phase, failures, reason);
    // A refusal that every later command would meet ends the chunk at once: further attempts
    // would only repeat it.
    if (failures < AttemptsPerChunk && !reason.Lasting) {
        if (reason.WantsPause()) sleep_.Pause(PauseMs);
        return true;
    }
    outcome_.Result = OperationOutcome::Kind::ChunkFailed;
    outcome_.FlashOffset = offset;
    outcome_.FailedPhase = phase;
    outcome_.Attempts = failures;
    outcome_.Reason = reason;
    return false;
}

bool ChunkLoop::ProgramChunk(uint32_t offset, uint32_t length, OperationOutcome::Phase& phase) {
    const uint16_t chunkLength = static_cast<uint16_t>(length);
    // Counted before it is sent: a write that fails may still have reached the flash.
    outcome_.Written = OperationOutcome::Writes::NotCommitted;
    phase = OperationOutcome::Phase::Write;
    if (!transport_.WriteFirmwareChunk(data_ + offset, BufferId(offset), BufferOffset(offset), chunkLength)) {
        return false;
    }
    ++outcome_.ChunksAccepted;
    sink_.ChunkWritten(offset, length);
    phase = OperationOutcome::Phase::ReadBack;
    if (!transport_.ReadBackChunk(readBack_ + offset, BufferId(offset), BufferOffset(offset), chunkLength)) {
        return false;
    }
    phase = OperationOutcome::Phase::Compare;
    if (std::memcmp(data_ + offset, readBack_ + offset, length) != 0) return false;
    sink_.ChunkVerified(offset, length);
    return true;
}

bool ChunkLoop::DumpChunk(uint32_t offset, uint32_t length, OperationOutcome::Phase& phase) {
    phase = OperationOutcome::Phase::Dump;
    if (!transport_.DumpFirmwareChunk(data_ + offset, BufferId(offset), BufferOffset(offset),
                                      static_cast<uint16_t>(length))) {
        return false;
    }
    sink_.ChunkRead(offset, length);
    return true;
}

bool ChunkLoop::EveryChunk(uint32_t flashSize, Attempt attempt) {
    int failures = 0;
    for (uint32_t offset = 0; offset < flashSize;) {
        const uint32_t length = ChunkAt(offset, flashSize);
        if (reading_ && !sink_.MayReadOn()) {
            outcome_.Result = OperationOutcome::Kind::Stopped;
            outcome_.FlashOffset = offset;
            return false;
        }
        OperationOutcome::Phase phase = OperationOutcome::Phase::Write;
        if ((this->*attempt)(offset, length, phase)) {
            failures = 0;
            offset += length;
        } else if (!MayRetry(offset, phase, failures)) {
            return false;
        }
    }
    return true;
}

bool ChunkLoop::Program(uint8_t* image, uint8_t* readBack, uint32_t flashSize) {
    data_ = image;
    readBack_ = readBack;
    reading_ = false;
    return EveryChunk(flashSize, &ChunkLoop::ProgramChunk);
}

bool ChunkLoop::Dump(uint8_t* dump, uint32_t flashSize) {
    data_ = dump;
    readBack_ = nullptr;
    reading_ = true;
    return EveryChunk(flashSize, &ChunkLoop::DumpChunk);
}
