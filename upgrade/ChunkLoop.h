#pragma once

#include <cstdint>

#include "transport/DriveTransport.h"
#include "upgrade/SleepApi.h"
#include "upgrade/OperationOutcome.h"
#include "upgrade/OperationSink.h"

// The chunk loops of the open drive: the flash from offset 0 upwards in 16 KiB chunks, up to five
// attempts in a row on one chunk (every good chunk starts the count again). A chunk at flash
// offset o goes to the drive as buffer id o / 65536 and buffer offset o mod 65536.
//
// An attempt that the drive answers with a unit attention or "becoming ready" is followed by a
// pause before the next one: the drive asks for time, and asking again at once would only spend
// the attempts. A failure that every later command would meet (a refusal of the system, a drive
// that is gone or has stopped answering) ends the loop at once.
class ChunkLoop {
public:
    static constexpr uint32_t ChunkLength = 16384;
    static constexpr int AttemptsPerChunk = 5;
    static constexpr unsigned PauseMs = 1000;

    // OUTCOME receives what was written and, on failure, the failed chunk's details.
    ChunkLoop(DriveTransport& transport, SleepApi& sleep, OperationSink& sink, OperationOutcome& outcome);

    // Writes FLASHSIZE bytes of IMAGE, reading every chunk back into READBACK and comparing it
    // before going on. False when a chunk failed (OUTCOME says which and why).
    bool Program(uint8_t* image, uint8_t* readBack, uint32_t flashSize);
    // Reads FLASHSIZE bytes of flash into DUMP. False when a chunk failed.
    bool Dump(uint8_t* dump, uint32_t flashSize);

private:
    // One attempt on a chunk: true when it is good, otherwise false with the failed step.
    using Attempt = bool (ChunkLoop::*)(uint32_t offset, uint32_t length, OperationOutcome::Phase& phase);
    bool ProgramChunk(uint32_t offset, uint32_t length, OperationOutcome::Phase& phase);
    bool DumpChunk(uint32_t offset, uint32_t length, OperationOutcome::Phase& phase);
    // Makes ATTEMPT on every chunk in turn until each is good or one has had its last attempt.
    bool EveryChunk(uint32_t flashSize, Attempt attempt);
    // Counts a failed attempt; false when the chunk has had its last one.
    bool MayRetry(uint32_t offset, OperationOutcome::Phase phase, int& failures);

    DriveTransport& transport_;
    SleepApi& sleep_;
    OperationSink& sink_;
    OperationOutcome& outcome_;
    uint8_t* data_ = nullptr;      // the image to write, or the dump to fill
    uint8_t* readBack_ = nullptr;  // Program only
    bool reading_ = false;         // Dump: the sink may stop the loop between chunks
};
