#pragma once

#include <stdint.h>

namespace emulator {

// What the target reads of a CDB before the drive sees it: the 16-byte field of a SCSI Command
// carries shorter CDBs padded with zeros, and initiators size their buffers their own way.
class CdbShape {
public:
    // 6, 10, 12 or 16 by the opcode's group; the vendor groups (0xC0-0xFF) and the reserved
    // one keep the whole field.
    static uint32_t Length(uint8_t opcode);
    // The allocation or parameter list length of the commands that have one; false for the rest.
    static bool TransferLength(const uint8_t* cdb, uint32_t& length);
};

}  // namespace emulator
