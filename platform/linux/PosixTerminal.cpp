#include "platform/linux/PosixTerminal.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

// An answer longer than this is no yes; the rest of the line is read and dropped.
constexpr size_t AnswerLimit = 256;

}  // namespace

bool PosixTerminal::InputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool PosixTerminal::ErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool PosixTerminal::ReadLine(std::string& line) {
    line.clear();
    // One byte at a time: nothing after the newline is taken from the input.
    for (;;) {
        if (Stopped && Stopped()) return false;
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, StopCheckMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        // A read that a stop signal interrupts ends the answer: the program looks at the signal.
        if (n < 0) return false;
        if (n == 0) return !line.empty();
        if (c == '\n') return true;
        if (line.size() < AnswerLimit) line += c;
    }
}

void PosixTerminal::Write(Stream stream, const char* text, size_t length) {
    const int fd = stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, text + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}
