#include "emulator/iscsi/PduReader.h"

#include <string.h>

#include "emulator/iscsi/Crc32c.h"

namespace emulator {

namespace {

uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void PduReader::Feed(const uint8_t* bytes, size_t length) {
    if (start_ != 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > 65536) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + length);
}

PduReader::Result PduReader::Next(Pdu& pdu) {
    const size_t available = buffer_.size() - start_;
    if (available < Pdu::HeaderLength) return Result::NeedMore;
    const uint8_t* p = buffer_.data() + start_;
    const size_t ahs = static_cast<size_t>(p[4]) * 4;
    const uint32_t dataLength = (static_cast<uint32_t>(p[5]) << 16) | (static_cast<uint32_t>(p[6]) << 8) | p[7];
    const size_t headerEnd = Pdu::HeaderLength + ahs + (headerDigest_ ? 4 : 0);
    if (available < headerEnd) return Result::NeedMore;
    memcpy(pdu.header, p, Pdu::HeaderLength);
    pdu.data.clear();
    if (headerDigest_ && Crc32c::Compute(p, Pdu::HeaderLength + ahs) != GetLe32(p + headerEnd - 4)) {
        return Result::HeaderDigestError;
    }
    if (dataLength > maxData_) return Result::TooLong;
    const size_t padded = (static_cast<size_t>(dataLength) + 3) & ~static_cast<size_t>(3);
    const size_t dataEnd = headerEnd + padded + (dataLength != 0 && dataDigest_ ? 4 : 0);
    if (available < dataEnd) return Result::NeedMore;
    start_ += dataEnd;
    if (dataLength != 0 && dataDigest_ && Crc32c::Compute(p + headerEnd, padded) != GetLe32(p + headerEnd + padded)) {
        return Result::DataDigestError;
    }
    pdu.data.assign(p + headerEnd, p + headerEnd + dataLength);
    return Result::Complete;
}

}  // namespace emulator
