#pragma once

#include <functional>

#include "cli/TerminalApi.h"

// The process's standard streams: isatty, line reads from the standard input, whole writes.
class PosixTerminal final : public TerminalApi {
public:
    // How often a read of an answer looks at Stopped while it waits.
    static constexpr int StopCheckMs = 100;

    // True when a stop signal has come: a read of an answer then ends unanswered. A signal that
    // lands just before the read starts interrupts nothing, so the read looks for itself.
    std::function<bool()> Stopped;

    bool InputIsTerminal() override;
    bool ErrorIsTerminal() override;
    bool ReadLine(std::string& line) override;
    void Write(Stream stream, const char* text, size_t length) override;
};
