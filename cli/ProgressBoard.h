#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "cli/Interruption.h"
#include "cli/TerminalApi.h"
#include "upgrade/OperationSink.h"

// The progress of several drives at once, a line each on the standard error of a terminal,
// redrawn in place: "Drive 2 /dev/sr1 [########........]  2/8 chunks writing". The drives' threads
// tell their rows; only the thread that owns the board writes to the terminal.
class ProgressBoard {
public:
    // One drive's row, and the sink of its operations: its chunks move the row; the stop signals
    // are looked at between two chunks read. Writing starts only inside the span in which the
    // program holds the signals for every drive.
    class Row final : public OperationSink {
    public:
        Row(ProgressBoard& board, Interruption& stops, const std::string& label);

        // What the drive does now ("back-up", "writing"), or how it ended.
        void SetStep(const std::string& step);

        void Started(uint32_t flashSize) override;
        void ChunkVerified(uint32_t offset, uint32_t length) override;
        void ChunkRead(uint32_t offset, uint32_t length) override;
        void CommitSent(bool accepted) override;
        bool MayStartWriting() override;
        bool MayReadOn() override;

    private:
        friend class ProgressBoard;
        void Move(uint32_t done, uint32_t total);

        ProgressBoard& board_;
        Interruption& stops_;
        std::string label_;
        std::string step_;
        uint32_t done_ = 0;
        uint32_t total_ = 0;
    };

    // Drawn only when ENABLED and the standard error is a terminal.
    ProgressBoard(TerminalApi& terminal, bool enabled);

    // A new row at the bottom; rows live as long as the board.
    Row& Add(Interruption& stops, const std::string& label);

    // Waits up to MILLISECONDS for a row to move; true when one did.
    bool WaitForNews(unsigned milliseconds);
    // Redraws every row in place (after Break: below what was written since).
    void Draw();
    // Before a line of text on the terminal: the rows are drawn anew below it.
    void Break();
    // Held while a line goes to the terminal from another thread than the board's.
    std::mutex& Lock() { return mutex_; }

private:
    void Changed();
    std::string Text(const Row& row) const;

    TerminalApi& terminal_;
    const bool drawn_on_terminal_;
    std::mutex mutex_;
    std::condition_variable news_;
    bool changed_ = false;
    bool drawn_ = false;
    std::deque<Row> rows_;
};
