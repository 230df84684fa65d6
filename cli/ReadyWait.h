#pragma once

#include <cstdint>

#include "transport/DeviceRecord.h"
#include "transport/SgIoTransport.h"
#include "upgrade/SleepApi.h"

// After a commit the drive starts its new firmware: it may answer NOT READY ("becoming ready")
// for a while and then report a unit attention ("microcode has been changed") once. Before its
// flash is read back it is asked TEST UNIT READY until it is ready, up to LimitMs. Ready is also
// NOT READY, medium not present: a drive being upgraded holds no disc, and that answer comes from
// firmware that has started.
class ReadyWait {
public:
    static constexpr unsigned PauseMs = 1000;
    static constexpr unsigned LimitMs = 60000;
    // Unit attentions in a row that are taken as news rather than as a drive that repeats itself.
    static constexpr int AttentionsAllowed = 8;
    static constexpr uint8_t AscMediumNotPresent = 0x3A;

    enum class Result {
        Ready,     // GOOD, no disc (any qualifier), or an answer that does not ask for time: the
                   // read-back judges
        NotReady,  // still becoming ready after LimitMs
        Failed,    // the drive could not be opened, is gone or stopped answering (Reason says so)
    };

    ReadyWait(SgIoTransport& transport, SleepApi& sleep);

    Result Wait(const DeviceRecord& drive);
    const TransportFailure& Reason() const { return reason_; }
    // The time spent pausing.
    unsigned WaitedMs() const { return waitedMs_; }

private:
    Result Poll();
    bool NoDisc() const;

    SgIoTransport& transport_;
    SleepApi& sleep_;
    TransportFailure reason_;
    unsigned waitedMs_ = 0;
};
