#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace emulator {

// One iSCSI PDU: the 48-byte basic header segment and the data segment (additional header
// segments are read past and not kept). Field accessors take the byte offsets of RFC 7143.
struct Pdu {
    static constexpr size_t HeaderLength = 48;

    // Opcodes, initiator to target.
    static constexpr uint8_t NopOut = 0x00;
    static constexpr uint8_t ScsiCommand = 0x01;
    static constexpr uint8_t TaskManagement = 0x02;
    static constexpr uint8_t LoginRequest = 0x03;
    static constexpr uint8_t TextRequest = 0x04;
    static constexpr uint8_t DataOut = 0x05;
    static constexpr uint8_t LogoutRequest = 0x06;
    static constexpr uint8_t Snack = 0x10;
    // Target to initiator.
    static constexpr uint8_t NopIn = 0x20;
    static constexpr uint8_t ScsiResponse = 0x21;
    static constexpr uint8_t TaskManagementResponse = 0x22;
    static constexpr uint8_t LoginResponse = 0x23;
    static constexpr uint8_t TextResponse = 0x24;
    static constexpr uint8_t DataIn = 0x25;
    static constexpr uint8_t LogoutResponse = 0x26;
    static constexpr uint8_t ReadyToTransfer = 0x31;
    static constexpr uint8_t Reject = 0x3F;

    static constexpr uint8_t FinalFlag = 0x80;
    static constexpr uint32_t NoTag = 0xFFFFFFFFu;

    uint8_t header[HeaderLength] = {};
    std::vector<uint8_t> data;

    uint8_t Opcode() const { return header[0] & 0x3F; }
    bool Immediate() const { return (header[0] & 0x40) != 0; }
    uint8_t Flags() const { return header[1]; }
    uint32_t DataSegmentLength() const {
        return (static_cast<uint32_t>(header[5]) << 16) | (static_cast<uint32_t>(header[6]) << 8) | header[7];
    }
    uint32_t Get32(size_t at) const {
        return (static_cast<uint32_t>(header[at]) << 24) | (static_cast<uint32_t>(header[at + 1]) << 16) |
               (static_cast<uint32_t>(header[at + 2]) << 8) | header[at + 3];
    }
    uint16_t Get16(size_t at) const { return static_cast<uint16_t>((header[at] << 8) | header[at + 1]); }
    void Put32(size_t at, uint32_t v) {
        header[at] = static_cast<uint8_t>(v >> 24);
        header[at + 1] = static_cast<uint8_t>(v >> 16);
        header[at + 2] = static_cast<uint8_t>(v >> 8);
        header[at + 3] = static_cast<uint8_t>(v);
    }
    void Put16(size_t at, uint16_t v) {
        header[at] = static_cast<uint8_t>(v >> 8);
        header[at + 1] = static_cast<uint8_t>(v);
    }
    uint32_t InitiatorTaskTag() const { return Get32(16); }
    uint32_t CmdSn() const { return Get32(24); }
    // The LUN field (bytes 8 to 15) names LUN 0.
    bool LunZero() const {
        for (size_t i = 8; i < 16; ++i) {
            if (header[i] != 0) return false;
        }
        return true;
    }

    // Serial number arithmetic of RFC 1982 on 32 bits (CmdSN, StatSN): A comes before B.
    static bool SerialLess(uint32_t a, uint32_t b) { return a != b && static_cast<int32_t>(a - b) < 0; }

    // A target PDU with its opcode and flags, everything else zero.
    static Pdu Make(uint8_t opcode, uint8_t flags);

    // Appends the PDU as it goes on the wire: header (with its digest), data padded to a
    // multiple of four (with its digest when there is data). Sets the data segment length.
    void Encode(bool headerDigest, bool dataDigest, std::vector<uint8_t>& out);
};

}  // namespace emulator
