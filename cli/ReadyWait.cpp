#include "cli/ReadyWait.h"

ReadyWait::ReadyWait(SgIoTransport& transport, SleepApi& sleep) : transport_(transport), sleep_(sleep) {}

ReadyWait::Result ReadyWait::Wait(const DeviceRecord& drive) {
    waitedMs_ = 0;
    reason_ = TransportFailure();
    if (!transport_.OpenDevice(drive)) {
        reason_ = transport_.LastFailure();
        return Result::Failed;
    }
    const Result result = Poll();
    transport_.CloseDevice();
    return result;
}

ReadyWait::Result ReadyWait::Poll() {
    int attentions = 0;
    for (;;) {
        if (transport_.TestUnitReady()) return Result::Ready;
        reason_ = transport_.LastFailure();
        if (reason_.Lasting) return Result::Failed;
        if (NoDisc() || !reason_.WantsPause()) return Result::Ready;
        // A unit attention is reported once and cleared by that report: ask again at once.
        if (reason_.SenseKey == TransportFailure::SenseUnitAttention && ++attentions <= AttentionsAllowed) continue;
        if (waitedMs_ >= LimitMs) return Result::NotReady;
        sleep_.Pause(PauseMs);
        waitedMs_ += PauseMs;
    }
}

bool ReadyWait::NoDisc() const {
    // Whatever the qualifier says of the tray, the drive answers for itself.
    return reason_.Why == TransportFailure::Cause::Answered && reason_.SenseKey == TransportFailure::SenseNotReady &&
           reason_.Asc == AscMediumNotPresent;
}
