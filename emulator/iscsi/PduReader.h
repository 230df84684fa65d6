#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "emulator/iscsi/Pdu.h"

namespace emulator {

// Cuts one connection's byte stream into PDUs. Digests and the data segment limit can change
// between two PDUs (they take effect after the login), never inside one.
class PduReader {
public:
    enum class Result {
        NeedMore,           // no whole PDU yet
        Complete,           // one PDU taken out of the stream
        HeaderDigestError,  // the stream cannot be trusted any more
        DataDigestError,    // the PDU was taken out; its header is in the PDU, its data is not
        TooLong,            // data segment above the limit: the PDU's header is in the PDU
    };

    void SetDigests(bool header, bool data) {
        headerDigest_ = header;
        dataDigest_ = data;
    }
    void SetMaxDataSegment(uint32_t bytes) { maxData_ = bytes; }

    void Feed(const uint8_t* bytes, size_t length);
    Result Next(Pdu& pdu);
    size_t Buffered() const { return buffer_.size() - start_; }

private:
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
    bool headerDigest_ = false;
    bool dataDigest_ = false;
    uint32_t maxData_ = 8192;
};

}  // namespace emulator
