#pragma once

#include <cstdint>

#include "transport/DriveTransport.h"

// What one firmware operation did, as a value: how it ended, how far it got with the drive, and
// the details that say why. Both front-ends turn it into their texts; nothing is decided by
// comparing a text.
struct OperationOutcome {
    enum class Kind {
        Done,                  // the operation did all it says (Verify: see DifferingChunks)
        SlotUnfilled,          // the program carries no image
        OpenFailed,            // the drive could not be opened
        FlashSizeMismatch,     // the drive's flash cannot hold the image
        NoImageBuffer,         // the first work buffer (the image, or the dump) was not had
        NoReadBackBuffer,      // the read-back buffer was not had
        ChecksumMismatch,      // the image does not sum to the slot's checksum
        StoppedBeforeWriting,  // everything short of the first write was done, as asked
        Stopped,               // the sink asked to stop: before the first write, or between reads
        ChunkFailed,           // a chunk failed its attempts, or the system refused it for good
        FileOpenFailed,        // the dump file could not be opened
        OverwriteDeclined,     // the dump file has content and the answer was No
        FileWriteFailed,       // the dump was read but the file could not take it
    };

    // How far the operation got with the drive's flash. A write that was sent counts, answered
    // or not: the flash may have taken it.
    enum class Writes {
        Nothing,       // no write command was sent
        NotCommitted,  // chunks were sent, the commit was not
        Committed,     // every chunk was verified and the commit sent
    };

    // The step of a chunk that failed.
    enum class Phase { Write, ReadBack, Compare, Dump };

    Kind Result = Kind::Done;
    Writes Written = Writes::Nothing;

    // ChunkFailed: the chunk's flash offset, the step of its last failed attempt, the attempts
    // made on it, and why the transport failed that attempt.
    uint32_t FlashOffset = 0;
    Phase FailedPhase = Phase::Write;
    int Attempts = 0;
    // OpenFailed, ChunkFailed and a refused commit: what the access layer said of the failure.
    TransportFailure Reason;
    // Upgrade: the write commands the drive answered GOOD.
    uint32_t ChunksAccepted = 0;

    // ChecksumMismatch: the image's sum and the slot's.
    uint16_t ComputedChecksum = 0;
    uint16_t ExpectedChecksum = 0;

    // Done after a commit: whether the drive accepted it (Reason says why not). The operation
    // ends Done either way: the chunks were verified, and the drive may activate them when it
    // restarts; a front-end decides what a refusal means to its user.
    bool CommitAccepted = false;

    // Done after a verify: how many of the image's chunks differ from the flash.
    uint32_t DifferingChunks = 0;

    // FlashSizeMismatch: the flash size of the drive.
    uint32_t FlashSize = 0;

    bool Succeeded() const { return Result == Kind::Done; }
};
