#pragma once

#include <stdint.h>

#include <string>

namespace emulator {

// The operational parameters of one session (and its one connection), negotiated key by key in
// the login. Starts with the defaults of RFC 7143; Negotiate applies one offer of the initiator
// and gives the target's answer.
class SessionParameters {
public:
    // What this target offers or accepts at most.
    static constexpr uint32_t TargetMaxRecvDataSegment = 8192;
    static constexpr uint32_t TargetMaxBurst = 262144;
    static constexpr uint32_t TargetFirstBurst = 65536;
    static constexpr uint32_t TargetTime2Wait = 2;
    static constexpr uint32_t TargetTime2Retain = 0;

    bool headerDigest = false;  // CRC32C
    bool dataDigest = false;
    // The initiator's limit: how much data one PDU to it may carry.
    uint32_t initiatorMaxRecvDataSegment = 8192;
    uint32_t maxBurst = 262144;
    uint32_t firstBurst = 65536;
    bool initialR2T = true;
    bool immediateData = true;
    uint32_t maxOutstandingR2T = 1;
    bool dataPduInOrder = true;
    bool dataSequenceInOrder = true;
    uint32_t errorRecoveryLevel = 0;
    uint32_t maxConnections = 1;
    uint32_t time2Wait = 2;
    uint32_t time2Retain = 20;

    enum class Outcome {
        Answer,      // send KEY=ANSWER
        Declared,    // a declaration of the initiator; nothing to answer
        NotHandled,  // not an operational key
        Refused,     // an offer the target cannot accept: the login fails
    };
    Outcome Negotiate(const std::string& key, const std::string& value, std::string& answer);

    // "HeaderDigest=None DataDigest=None ..." as negotiated, for the event log.
    std::string Describe() const;
};

}  // namespace emulator
