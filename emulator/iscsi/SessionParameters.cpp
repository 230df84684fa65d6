#include "emulator/iscsi/SessionParameters.h"

#include <vector>

namespace emulator {

namespace {

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v > max) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseBool(const std::string& text, bool& value) {
    if (text == "Yes") {
        value = true;
    } else if (text == "No") {
        value = false;
    } else {
        return false;
    }
    return true;
}

const char* YesNo(bool v) { return v ? "Yes" : "No"; }

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

}  // namespace

SessionParameters::Outcome SessionParameters::Negotiate(const std::string& key, const std::string& value,
                                                        std::string& answer) {
    uint32_t n = 0;
    bool b = false;
    if (key == "HeaderDigest" || key == "DataDigest") {
        // The initiator lists in order of preference; take the first one known here.
        for (const std::string& item : SplitCommas(value)) {
            if (item == "None" || item == "CRC32C") {
                (key == "HeaderDigest" ? headerDigest : dataDigest) = item == "CRC32C";
                answer = item;
                return Outcome::Answer;
            }
        }
        answer = "Reject";
        return Outcome::Answer;
    }
    if (key == "MaxRecvDataSegmentLength") {
        if (!ParseNumber(value, 16777215, n) || n < 512) return Outcome::Refused;
        initiatorMaxRecvDataSegment = n;
        return Outcome::Declared;
    }
    if (key == "MaxBurstLength" || key == "FirstBurstLength") {
        if (!ParseNumber(value, 16777215, n) || n < 512) return Outcome::Refused;
        const bool burst = key == "MaxBurstLength";
        const uint32_t result = n < (burst ? TargetMaxBurst : TargetFirstBurst) ? n : (burst ? TargetMaxBurst : TargetFirstBurst);
        (burst ? maxBurst : firstBurst) = result;
        answer = std::to_string(result);
        return Outcome::Answer;
    }
    if (key == "InitialR2T" || key == "DataPDUInOrder" || key == "DataSequenceInOrder") {
        if (!ParseBool(value, b)) return Outcome::Refused;
        // OR with this target's Yes for the ordering keys; InitialR2T: the target is content with No.
        bool& field = key == "InitialR2T" ? initialR2T : key == "DataPDUInOrder" ? dataPduInOrder : dataSequenceInOrder;
        field = key == "InitialR2T" ? b : true;
        answer = YesNo(field);
        return Outcome::Answer;
    }
    if (key == "ImmediateData") {
        if (!ParseBool(value, b)) return Outcome::Refused;
        immediateData = b;  // AND with this target's Yes
        answer = YesNo(b);
        return Outcome::Answer;
    }
    if (key == "MaxOutstandingR2T" || key == "ErrorRecoveryLevel" || key == "MaxConnections") {
        const uint32_t limit = key == "ErrorRecoveryLevel" ? 2 : 65535;
        if (!ParseNumber(value, limit, n) || (key != "ErrorRecoveryLevel" && n == 0)) return Outcome::Refused;
        // One R2T at a time, no error recovery beyond the session, one connection.
        const uint32_t ours = key == "ErrorRecoveryLevel" ? 0 : 1;
        const uint32_t result = n < ours ? n : ours;
        (key == "MaxOutstandingR2T" ? maxOutstandingR2T : key == "ErrorRecoveryLevel" ? errorRecoveryLevel : maxConnections) =
            result;
        answer = std::to_string(result);
        return Outcome::Answer;
    }
    if (key == "DefaultTime2Wait" || key == "DefaultTime2Retain") {
        if (!ParseNumber(value, 3600, n)) return Outcome::Refused;
        // Time2Wait is the larger of the two offers, Time2Retain the smaller.
        const bool wait = key == "DefaultTime2Wait";
        const uint32_t result = wait ? (n > TargetTime2Wait ? n : TargetTime2Wait) : (n < TargetTime2Retain ? n : TargetTime2Retain);
        (wait ? time2Wait : time2Retain) = result;
        answer = std::to_string(result);
        return Outcome::Answer;
    }
    return Outcome::NotHandled;
}

std::string SessionParameters::Describe() const {
    std::string s;
    s += "HeaderDigest=";
    s += headerDigest ? "CRC32C" : "None";
    s += " DataDigest=";
    s += dataDigest ? "CRC32C" : "None";
    s += " MaxRecvDataSegmentLength=" + std::to_string(initiatorMaxRecvDataSegment) + "/" +
         std::to_string(TargetMaxRecvDataSegment);
    s += " MaxBurstLength=" + std::to_string(maxBurst) + " FirstBurstLength=" + std::to_string(firstBurst);
    s += std::string(" InitialR2T=") + YesNo(initialR2T) + " ImmediateData=" + YesNo(immediateData);
    s += " MaxOutstandingR2T=" + std::to_string(maxOutstandingR2T);
    s += std::string(" DataPDUInOrder=") + YesNo(dataPduInOrder) + " DataSequenceInOrder=" + YesNo(dataSequenceInOrder);
    s += " ErrorRecoveryLevel=" + std::to_string(errorRecoveryLevel) + " MaxConnections=" + std::to_string(maxConnections);
    s += " DefaultTime2Wait=" + std::to_string(time2Wait) + " DefaultTime2Retain=" + std::to_string(time2Retain);
    return s;
}

}  // namespace emulator
