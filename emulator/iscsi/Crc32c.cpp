#include "emulator/iscsi/Crc32c.h"

namespace emulator {

namespace {

struct Table {
    uint32_t Entry[256];
    Table() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 1) != 0 ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            }
            Entry[i] = c;
        }
    }
};

const Table& TheTable() {
    static const Table table;
    return table;
}

}  // namespace

uint32_t Crc32c::Extend(uint32_t crc, const uint8_t* data, size_t length) {
    const Table& t = TheTable();
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; ++i) {
        c = t.Entry[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    }
    return ~c;
}

uint32_t Crc32c::Compute(const uint8_t* data, size_t length) { return Extend(0, data, length); }

}  // namespace emulator
