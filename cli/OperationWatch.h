#pragma once

#include <cstdint>
#include <string>

#include "cli/Console.h"
#include "cli/Interruption.h"
#include "cli/ProgressBar.h"
#include "upgrade/OperationSink.h"

// The sink the program gives every operation: the bar shows the chunks, and the stop signals
// are looked at between them. A read stops at a signal; an upgrade starts writing only when no
// signal has come, then holds them, saying once that it has seen one.
class OperationWatch final : public OperationSink {
public:
    OperationWatch(ProgressBar& bar, Console& console, Interruption& interruption);

    // What is written while the signals are held, for the line that says why the program goes on.
    void Writing(const std::string& what) { writing_ = what; }

    void Started(uint32_t flashSize) override;
    void ChunkWritten(uint32_t offset, uint32_t length) override;
    void ChunkVerified(uint32_t offset, uint32_t length) override;
    void ChunkRead(uint32_t offset, uint32_t length) override;
    void AttemptFailed(uint32_t offset, OperationOutcome::Phase phase, int attempt,
                       const TransportFailure& reason) override;
    void CommitSent(bool accepted) override;
    bool MayStartWriting() override;
    bool MayReadOn() override;
    void Finished(const OperationOutcome& outcome) override;

private:
    // Says, once, that a held signal has been seen.
    void TellHeld();

    ProgressBar& bar_;
    Console& console_;
    Interruption& interruption_;
    std::string writing_;
};
