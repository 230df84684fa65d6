#pragma once

#include <stddef.h>
#include <stdint.h>

namespace emulator {

// The CRC32C (Castagnoli) of iSCSI header and data digests. On the wire the digest travels least
// significant byte first.
class Crc32c {
public:
    static uint32_t Compute(const uint8_t* data, size_t length);
    // Continues a running CRC: pass the previous result (0 to start).
    static uint32_t Extend(uint32_t crc, const uint8_t* data, size_t length);
};

}  // namespace emulator
