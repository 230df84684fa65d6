#include "platform/linux/PosixSignals.h"

#include <signal.h>

#include <csignal>

namespace {

const int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int TerminalStops[] = {SIGTSTP, SIGTTIN, SIGTTOU};

volatile std::sig_atomic_t caught = 0;

extern "C" void NoteStop(int signal) {
    if (caught == 0) caught = signal;
}

void Dispose(int signal, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the question's read and a read command's wait end with EINTR, so that the
    // program notices the signal at once.
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
}

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : StopSignals) sigaddset(&set, signal);
    return set;
}

}  // namespace

void PosixSignals::CatchStops() {
    Dispose(SIGPIPE, SIG_IGN);
    for (int signal : StopSignals) Dispose(signal, NoteStop);
}

int PosixSignals::Caught() { return caught; }

void PosixSignals::HoldStops() {
    const sigset_t set = StopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    for (int signal : TerminalStops) Dispose(signal, SIG_IGN);
}

int PosixSignals::Held() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) return 0;
    for (int signal : StopSignals) {
        if (sigismember(&pending, signal) == 1) return signal;
    }
    return 0;
}
