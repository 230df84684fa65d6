#include "emulator/iscsi/Pdu.h"

#include "emulator/iscsi/Crc32c.h"

namespace emulator {

namespace {

void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Pdu Pdu::Make(uint8_t opcode, uint8_t flags) {
    Pdu pdu;
    pdu.header[0] = opcode;
    pdu.header[1] = flags;
    return pdu;
}

void Pdu::Encode(bool headerDigest, bool dataDigest, std::vector<uint8_t>& out) {
    const uint32_t length = static_cast<uint32_t>(data.size());
    header[4] = 0;  // no additional header segments
    header[5] = static_cast<uint8_t>(length >> 16);
    header[6] = static_cast<uint8_t>(length >> 8);
    header[7] = static_cast<uint8_t>(length);
    out.insert(out.end(), header, header + HeaderLength);
    if (headerDigest) AppendLe32(out, Crc32c::Compute(header, HeaderLength));
    if (length == 0) return;
    out.insert(out.end(), data.begin(), data.end());
    const uint8_t zeros[3] = {};
    const size_t pad = (4 - length % 4) % 4;
    out.insert(out.end(), zeros, zeros + pad);
    if (dataDigest) {
        // The padding is part of what the digest covers.
        AppendLe32(out, Crc32c::Extend(Crc32c::Compute(data.data(), data.size()), zeros, pad));
    }
}

}  // namespace emulator
