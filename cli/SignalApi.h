#pragma once

// The signals that would stop the program (SIGINT, SIGTERM, SIGHUP) as the front-end handles
// them. Before the first write they end the program cleanly; from it on they wait until the
// operation is done, since a write cut short can leave a drive without working firmware.
class SignalApi {
public:
    // Catches the stop signals: each is noted (the first one kept) and interrupts the blocking
    // call it meets, which then fails with EINTR. Ignores SIGPIPE for the whole run: a closed
    // output is an error of that output, never a reason to leave the drive.
    virtual void CatchStops() = 0;
    // The first stop signal caught so far; 0 for none.
    virtual int Caught() = 0;
    // From now on the stop signals wait, pending, and interrupt nothing; SIGTSTP, SIGTTIN and
    // SIGTTOU are ignored, so that no terminal can stop the program in the middle of a write.
    virtual void HoldStops() = 0;
    // A stop signal that arrived since HoldStops; 0 for none.
    virtual int Held() = 0;

protected:
    ~SignalApi() = default;
};
