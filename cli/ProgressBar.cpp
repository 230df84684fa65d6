#include "cli/ProgressBar.h"

#include <cstdio>

#include "upgrade/ChunkLoop.h"

namespace {

// Chunks that cover BYTES of flash, a short last one included.
uint32_t ChunksOf(uint32_t bytes) { return (bytes + ChunkLoop::ChunkLength - 1) / ChunkLoop::ChunkLength; }

}  // namespace

ProgressBar::ProgressBar(TerminalApi& terminal) : terminal_(terminal) {}

void ProgressBar::Start(uint32_t total) {
    Finish();
    if (!Enabled || !terminal_.ErrorIsTerminal() || total == 0) return;
    total_ = total;
    active_ = true;
    shown_ = 0;
    drawn_ = false;
    Show(0);
}

void ProgressBar::Show(uint32_t done) {
    if (!active_) return;
    if (done > total_) done = total_;
    if (drawn_ && done == shown_) return;
    char line[Width + 48];
    int at = std::snprintf(line, sizeof line, "\r[");
    const uint32_t filled = static_cast<uint32_t>(uint64_t{done} * Width / total_);
    for (uint32_t i = 0; i < static_cast<uint32_t>(Width); ++i) line[at++] = i < filled ? '#' : '.';
    at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "] %u/%u chunks", unsigned{done},
                        unsigned{total_});
    terminal_.Write(TerminalApi::Stream::Error, line, static_cast<size_t>(at));
    shown_ = done;
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (active_ && drawn_) terminal_.Write(TerminalApi::Stream::Error, "\n", 1);
    active_ = false;
}

void ProgressBar::Break() {
    if (active_ && drawn_) terminal_.Write(TerminalApi::Stream::Error, "\n", 1);
    drawn_ = false;
}

void ProgressBar::Started(uint32_t flashSize) { Start(ChunksOf(flashSize)); }

void ProgressBar::ChunkVerified(uint32_t offset, uint32_t length) { Show(ChunksOf(offset + length)); }

void ProgressBar::ChunkRead(uint32_t offset, uint32_t length) { Show(ChunksOf(offset + length)); }

void ProgressBar::Finished(const OperationOutcome&) { Finish(); }
