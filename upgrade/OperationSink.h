#pragma once

#include <cstdint>

#include "transport/DriveTransport.h"
#include "upgrade/OperationOutcome.h"

// What an operation tells as it goes, for a progress bar or a log. Offsets are flash offsets;
// each event has an empty default, so a front-end overrides what it shows.
class OperationSink {
public:
    // The drive is open and the work buffers are held: the chunks of FLASHSIZE bytes follow.
    virtual void Started(uint32_t /*flashSize*/) {}
    // A chunk was written (not yet read back).
    virtual void ChunkWritten(uint32_t /*offset*/, uint32_t /*length*/) {}
    // A written chunk was read back and equals what was written.
    virtual void ChunkVerified(uint32_t /*offset*/, uint32_t /*length*/) {}
    // A chunk of the flash was read.
    virtual void ChunkRead(uint32_t /*offset*/, uint32_t /*length*/) {}
    // Attempt ATTEMPT (from 1) on the chunk at OFFSET failed in PHASE; REASON is the transport's.
    virtual void AttemptFailed(uint32_t /*offset*/, OperationOutcome::Phase /*phase*/, int /*attempt*/,
                               const TransportFailure& /*reason*/) {}
    // The commit went to the drive; ACCEPTED is its answer.
    virtual void CommitSent(bool /*accepted*/) {}
    // Asked once before an upgrade's first write: false stops it there with nothing written.
    virtual bool MayStartWriting() { return true; }
    // Asked before each attempt at a chunk of a flash read (Save, Read, Verify): false stops the
    // read there. Reading changes nothing on the drive, so it may stop between any two chunks.
    virtual bool MayReadOn() { return true; }
    // The operation ended: the drive is closed and its buffers released.
    virtual void Finished(const OperationOutcome& /*outcome*/) {}

protected:
    ~OperationSink() = default;
};
