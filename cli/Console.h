#pragma once

#include <string>

#include "cli/ProgressBar.h"
#include "cli/TerminalApi.h"
#include "upgrade/FirmwareOperations.h"

// The terminal as the program speaks on it: its texts as lines on the standard output or error,
// each after the bar's line has ended, and its questions as yes or no.
class Console final : public FirmwareOperations::OverwriteQuestion {
public:
    Console(TerminalApi& terminal, ProgressBar& bar);

    // Answer every question with Yes without asking (--yes).
    bool AssumeYes = false;

    // Writes LINE and a newline to the stream, after ending the bar's line (the bar goes on below).
    void Line(TerminalApi::Stream stream, const std::string& line);
    // Asks QUESTION with " [y/N] " on the terminal: true for y or yes. AssumeYes answers it
    // unasked; without a terminal and without AssumeYes the answer is No.
    bool Confirm(const std::string& question);

    // Save's question, asked as Confirm asks.
    bool MayOverwrite(const std::string& path) override;

private:
    TerminalApi& terminal_;
    ProgressBar& bar_;
};
