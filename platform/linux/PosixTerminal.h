#pragma once

#include "cli/TerminalApi.h"

// The process's standard streams: isatty, line reads from the standard input, whole writes.
class PosixTerminal final : public TerminalApi {
public:
    bool InputIsTerminal() override;
    bool ErrorIsTerminal() override;
    bool ReadLine(std::string& line) override;
    void Write(Stream stream, const char* text, size_t length) override;
};
