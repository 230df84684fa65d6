#include "cli/OperationWatch.h"

OperationWatch::OperationWatch(ProgressBar& bar, Console& console, Interruption& interruption)
    : bar_(bar), console_(console), interruption_(interruption) {}

void OperationWatch::TellHeld() {
    const int signal = interruption_.NewlyHeld();
    if (signal == 0) return;
    console_.Line(TerminalApi::Stream::Error,
                  std::string("flashupgrade: ") + Interruption::Name(signal) + " received while " + writing_ +
                      ": stopping now could leave the drive without working firmware; the program stops as "
                      "soon as the write is done");
}

void OperationWatch::Started(uint32_t flashSize) { bar_.Started(flashSize); }

void OperationWatch::ChunkWritten(uint32_t offset, uint32_t length) {
    TellHeld();
    bar_.ChunkWritten(offset, length);
}

void OperationWatch::ChunkVerified(uint32_t offset, uint32_t length) {
    TellHeld();
    bar_.ChunkVerified(offset, length);
}

void OperationWatch::ChunkRead(uint32_t offset, uint32_t length) {
    TellHeld();
    bar_.ChunkRead(offset, length);
}

void OperationWatch::AttemptFailed(uint32_t offset, OperationOutcome::Phase phase, int attempt,
                                   const TransportFailure& reason) {
    TellHeld();
    bar_.AttemptFailed(offset, phase, attempt, reason);
}

void OperationWatch::CommitSent(bool accepted) {
    TellHeld();
    bar_.CommitSent(accepted);
}

bool OperationWatch::MayStartWriting() { return interruption_.Hold(); }

bool OperationWatch::MayReadOn() { return interruption_.Stop() == 0; }

void OperationWatch::Finished(const OperationOutcome& outcome) {
    TellHeld();
    bar_.Finished(outcome);
}
