#pragma once

#include <string>

#include "cli/SignalApi.h"

// When a stop signal may end the program. Until the first write it may: the program notices it
// at its next step (after the scan, the question, between two chunks read) and ends with nothing
// written. From the first write on it is held: the write, its verification and the commit run to
// their end, and the program only says that it has seen the signal.
class Interruption {
public:
    explicit Interruption(SignalApi& signals);

    // Starts catching the stop signals.
    void Watch();
    // The signal that ends the program now: one caught before the held span; 0 for none.
    int Stop();
    // Enters the held span, unless a stop signal came first: false then, and it is to end the
    // program with nothing written.
    bool Hold();
    bool Holding() const { return holding_; }
    // In the held span: a signal that arrived and has not been reported yet (once); 0 otherwise.
    int NewlyHeld();

    // The exit status of a program that SIGNAL ended: 128 + its number, as the shell reports it.
    static int Status(int signal) { return 128 + signal; }
    // "SIGINT", "SIGTERM", "SIGHUP", or "signal N".
    static const char* Name(int signal);
    // "flashupgrade: stopped by SIGINT: nothing was written to the drive; WHAT left as it was"
    // (WHAT, when given, names the file the program would have written); "to the drives" for
    // SEVERAL.
    static std::string Stopped(int signal, const std::string& what, bool several = false);

private:
    SignalApi& signals_;
    bool holding_ = false;
    bool told_ = false;
};
