#pragma once

#include <cstdint>
#include <string>

#include "cli/TerminalApi.h"
#include "upgrade/OperationSink.h"

// The bar on the standard error that moves per chunk: "[#######.........]  3/8 chunks". Drawn
// only on a terminal; elsewhere the program's output is its texts alone. As the operations' sink
// it starts when the drive is open, moves per verified or read chunk and ends with the operation.
class ProgressBar final : public OperationSink {
public:
    static constexpr int Width = 32;

    explicit ProgressBar(TerminalApi& terminal);

    // "[#######.........] 3/8 chunks": DONE of TOTAL (not 0) chunks, Width marks wide.
    static std::string Bar(uint32_t done, uint32_t total);
    // The chunks that cover BYTES of flash, a short last one included.
    static uint32_t ChunksOf(uint32_t bytes);

    // False: never drawn (another view has the standard error).
    bool Enabled = true;

    // A new bar of TOTAL chunks at 0.
    void Start(uint32_t total);
    void Show(uint32_t done);
    // Ends the bar's line, so that the next text starts on a line of its own.
    void Finish();
    // Ends the bar's line for a text in the middle of the operation; the bar is drawn again on a
    // line of its own at its next move.
    void Break();
    bool Drawn() const { return drawn_; }

    void Started(uint32_t flashSize) override;
    void ChunkVerified(uint32_t offset, uint32_t length) override;
    void ChunkRead(uint32_t offset, uint32_t length) override;
    void Finished(const OperationOutcome& outcome) override;

private:
    TerminalApi& terminal_;
    uint32_t total_ = 0;
    uint32_t shown_ = 0;
    bool active_ = false;
    bool drawn_ = false;
};
