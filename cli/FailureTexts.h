#pragma once

#include <cstdint>
#include <string>

#include "transport/DriveTransport.h"

// What a failed command says, as the program tells it: the drive's sense in words, and the
// reason of a failure in one line.
class FailureTexts {
public:
    // "ILLEGAL REQUEST", ... for the sixteen sense keys.
    static const char* SenseKey(uint8_t key);
    // The standard meaning of the common additional sense codes; nullptr for others.
    static const char* AdditionalSense(uint8_t asc, uint8_t ascq);
    // "sense 05/24/00 ILLEGAL REQUEST, INVALID FIELD IN CDB" (the code in hex alone when its
    // meaning is not known here).
    static std::string Sense(uint8_t key, uint8_t asc, uint8_t ascq);
    // "flashupgrade: NODE: ..." for a failure the access layer explained, naming the time-out
    // TIMEOUTMS for a drive that stopped answering; empty when it explained nothing.
    static std::string Reason(const TransportFailure& failure, uint32_t timeOutMs);
};
