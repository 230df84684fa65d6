#pragma once

#include <cstddef>
#include <string>

// The terminal as the front-end uses it: whether a person sits at it, one line of an answer, and
// the two output streams.
class TerminalApi {
public:
    enum class Stream { Out, Error };

    // Whether questions can be asked: the standard input is a terminal.
    virtual bool InputIsTerminal() = 0;
    // Whether a progress bar can be drawn: the standard error is a terminal.
    virtual bool ErrorIsTerminal() = 0;
    // One line of the standard input without its newline; false at its end.
    virtual bool ReadLine(std::string& line) = 0;
    virtual void Write(Stream stream, const char* text, size_t length) = 0;

protected:
    ~TerminalApi() = default;
};
