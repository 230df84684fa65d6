#include "cli/FailureTexts.h"

#include <cstdio>

#include "cli/ProgramTexts.h"

namespace {

struct AdditionalSenseText {
    uint8_t Asc;
    uint8_t Ascq;
    const char* Text;
};

// The codes a drive of the family answers, and the ones any drive answers while it restarts.
const AdditionalSenseText AdditionalSenses[] = {
    {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
    {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
    {0x0C, 0x00, "WRITE ERROR"},
    {0x11, 0x00, "UNRECOVERED READ ERROR"},
    {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
    {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
    {0x24, 0x00, "INVALID FIELD IN CDB"},
    {0x26, 0x00, "INVALID FIELD IN PARAMETER LIST"},
    {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
    {0x29, 0x00, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
    {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
    {0x3A, 0x00, "MEDIUM NOT PRESENT"},
    {0x3F, 0x01, "MICROCODE HAS BEEN CHANGED"},
    {0x44, 0x00, "INTERNAL TARGET FAILURE"},
};

const char* const SenseKeys[16] = {
    "NO SENSE",        "RECOVERED ERROR", "NOT READY",       "MEDIUM ERROR",    "HARDWARE ERROR",  "ILLEGAL REQUEST",
    "UNIT ATTENTION",  "DATA PROTECT",    "BLANK CHECK",     "VENDOR SPECIFIC", "COPY ABORTED",    "ABORTED COMMAND",
    "RESERVED (0Ch)",  "VOLUME OVERFLOW", "MISCOMPARE",      "COMPLETED",
};

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFFFu);
    return text;
}

std::string Seconds(uint32_t milliseconds) {
    char text[24];
    if (milliseconds % 1000 == 0) {
        std::snprintf(text, sizeof text, "%u s", unsigned{milliseconds / 1000});
    } else {
        std::snprintf(text, sizeof text, "%.1f s", milliseconds / 1000.0);
    }
    return text;
}

}  // namespace

const char* FailureTexts::SenseKey(uint8_t key) { return SenseKeys[key & 0x0F]; }

const char* FailureTexts::AdditionalSense(uint8_t asc, uint8_t ascq) {
    for (const AdditionalSenseText& known : AdditionalSenses) {
        if (known.Asc == asc && known.Ascq == ascq) return known.Text;
    }
    return nullptr;
}

std::string FailureTexts::Sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    char code[16];
    std::snprintf(code, sizeof code, "%02X/%02X/%02X", unsigned{key}, unsigned{asc}, unsigned{ascq});
    std::string text = std::string("sense ") + code + " " + SenseKey(key);
    const char* meaning = AdditionalSense(asc, ascq);
    if (meaning != nullptr) text += std::string(", ") + meaning;
    return text;
}

std::string FailureTexts::Reason(const TransportFailure& failure, uint32_t timeOutMs) {
    using Cause = TransportFailure::Cause;
    const std::string node = "flashupgrade: " + failure.Node + ": ";
    switch (failure.Why) {
    case Cause::Refused: return ProgramTexts::EnvironmentError(failure.Error, failure.Node);
    case Cause::Gone:
        if (failure.Error != 0) return ProgramTexts::EnvironmentError(failure.Error, failure.Node);
        return node + "gone: the drive's link was lost (host status " + Hex2(failure.HostStatus) + ")";
    case Cause::TimedOut: return node + "the drive stopped answering: no answer within " + Seconds(timeOutMs);
    case Cause::Answered:
        if (failure.Status == 0x02) {
            return node + "the drive answered CHECK CONDITION, " +
                   Sense(failure.SenseKey, failure.Asc, failure.Ascq);
        }
        return node + "the drive answered status " + Hex2(failure.Status);
    case Cause::Failed:
        return node + "the command failed on its way (host status " + Hex2(failure.HostStatus) +
               ", driver status " + Hex2(failure.DriverStatus) + ")";
    case Cause::Replaced: return node + "a device other than the listed one answers here";
    case Cause::Unknown:
        if (failure.Error != 0) return ProgramTexts::EnvironmentError(failure.Error, failure.Node);
        return std::string();
    }
    return std::string();
}
