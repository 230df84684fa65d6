#include "cli/ProgressBoard.h"

#include <chrono>

#include "cli/ProgressBar.h"
#include "upgrade/ChunkLoop.h"

ProgressBoard::Row::Row(ProgressBoard& board, Interruption& stops, const std::string& label)
    : board_(board), stops_(stops), label_(label) {}

void ProgressBoard::Row::SetStep(const std::string& step) {
    std::lock_guard<std::mutex> lock(board_.mutex_);
    step_ = step;
    board_.Changed();
}

void ProgressBoard::Row::Move(uint32_t done, uint32_t total) {
    std::lock_guard<std::mutex> lock(board_.mutex_);
    done_ = done;
    total_ = total;
    board_.Changed();
}

void ProgressBoard::Row::Started(uint32_t flashSize) { Move(0, ProgressBar::ChunksOf(flashSize)); }

void ProgressBoard::Row::ChunkVerified(uint32_t offset, uint32_t length) {
    Move(ProgressBar::ChunksOf(offset + length), total_);
}

void ProgressBoard::Row::ChunkRead(uint32_t offset, uint32_t length) {
    Move(ProgressBar::ChunksOf(offset + length), total_);
}

void ProgressBoard::Row::CommitSent(bool accepted) { SetStep(accepted ? "committed, reading back" : "commit refused"); }

// The program holds the signals for all drives before their threads start writing; a drive
// whose thread finds them not held must not start.
bool ProgressBoard::Row::MayStartWriting() { return stops_.Holding(); }

bool ProgressBoard::Row::MayReadOn() { return stops_.Stop() == 0; }

ProgressBoard::ProgressBoard(TerminalApi& terminal, bool enabled)
    : terminal_(terminal), drawn_on_terminal_(enabled && terminal.ErrorIsTerminal()) {}

ProgressBoard::Row& ProgressBoard::Add(Interruption& stops, const std::string& label) {
    rows_.emplace_back(*this, stops, label);
    return rows_.back();
}

void ProgressBoard::Changed() {
    changed_ = true;
    news_.notify_all();
}

bool ProgressBoard::WaitForNews(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    news_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return changed_; });
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

std::string ProgressBoard::Text(const Row& row) const {
    std::string text = row.label_;
    if (row.total_ != 0) text += " " + ProgressBar::Bar(row.done_, row.total_);
    if (!row.step_.empty()) text += " " + row.step_;
    return text;
}

void ProgressBoard::Draw() {
    if (!drawn_on_terminal_ || rows_.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string screen;
    // Back to the first row, each line cleared before it is written again.
    if (drawn_) screen = "\033[" + std::to_string(rows_.size()) + "A";
    for (const Row& row : rows_) screen += "\r\033[K" + Text(row) + "\n";
    terminal_.Write(TerminalApi::Stream::Error, screen.data(), screen.size());
    drawn_ = true;
}

void ProgressBoard::Break() { drawn_ = false; }
