#include "emulator/iscsi/CdbShape.h"

namespace emulator {

namespace {

uint32_t Be16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
uint32_t Be24(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 16) | Be16(p + 1); }
uint32_t Be32(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 24) | Be24(p + 1); }

}  // namespace

uint32_t CdbShape::Length(uint8_t opcode) {
    switch (opcode >> 5) {
    case 0:
        return 6;
    case 1:
    case 2:
        return 10;
    case 4:
        return 16;
    case 5:
        return 12;
    default:
        return 16;
    }
}

bool CdbShape::TransferLength(const uint8_t* cdb, uint32_t& length) {
    switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
        length = 0;
        return true;
    case 0x03:  // REQUEST SENSE
    case 0x1A:  // MODE SENSE(6)
        length = cdb[4];
        return true;
    case 0x12:  // INQUIRY
        length = Be16(cdb + 3);
        return true;
    case 0x25:  // READ CAPACITY(10)
        length = 8;
        return true;
    case 0x28:  // READ(10): blocks of 2048 bytes, the only size a drive here has
        length = Be16(cdb + 7) * 2048u;
        return true;
    case 0x3B:  // WRITE BUFFER
    case 0x3C:  // READ BUFFER
        length = Be24(cdb + 6);
        return true;
    case 0x5A:  // MODE SENSE(10)
        length = Be16(cdb + 7);
        return true;
    case 0xA0:  // REPORT LUNS
        length = Be32(cdb + 6);
        return true;
    default:
        return false;
    }
}

}  // namespace emulator
