#include "cli/Interruption.h"

#include <csignal>

Interruption::Interruption(SignalApi& signals) : signals_(signals) {}

void Interruption::Watch() { signals_.CatchStops(); }

int Interruption::Stop() { return holding_ ? 0 : signals_.Caught(); }

bool Interruption::Hold() {
    // Held first, then asked: a signal before this point was caught and stops the program; one
    // after it waits. None falls between the two.
    signals_.HoldStops();
    if (signals_.Caught() != 0) return false;
    holding_ = true;
    return true;
}

int Interruption::NewlyHeld() {
    if (!holding_ || told_) return 0;
    const int signal = signals_.Held();
    if (signal != 0) told_ = true;
    return signal;
}

const char* Interruption::Name(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

std::string Interruption::Stopped(int signal, const std::string& what, bool several) {
    return std::string("flashupgrade: stopped by ") + Name(signal) + ": nothing was written to the drive" +
           (several ? "s" : "") + (what.empty() ? "" : "; " + what + " left as it was");
}
