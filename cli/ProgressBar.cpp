#include "cli/ProgressBar.h"


#include "upgrade/ChunkLoop.h"

ProgressBar::ProgressBar(TerminalApi& terminal) : terminal_(terminal) {}

uint32_t ProgressBar::ChunksOf(uint32_t bytes) { return (bytes + ChunkLoop::ChunkLength - 1) / ChunkLoop::ChunkLength; }

std::string ProgressBar::Bar(uint32_t done, uint32_t total) {
    if (done > total) done = total;
    std::string bar = "[";
    const uint32_t filled = static_cast<uint32_t>(uint64_t{done} * Width / total);
    for (uint32_t i = 0; i < static_cast<uint32_t>(Width); ++i) bar += i < filled ? '#' : '.';
    return bar + "] " + std::to_string(done) + "/" + std::to_string(total) + " chunks";
}

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
    const std::string line = "\r" + Bar(done, total_);
    terminal_.Write(TerminalApi::Stream::Error, line.data(), line.size());
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
