#include "emulator/drive/DriveLogText.h"

#include "emulator/drive/TextLine.h"

namespace emulator {

namespace {

const char* OpcodeName(uint8_t opcode) {
    switch (opcode) {
    case EmulatedDrive::OpInquiry:
        return "INQUIRY";
    case EmulatedDrive::OpReadBuffer:
        return "READ_BUFFER";
    case EmulatedDrive::OpWriteBuffer:
        return "WRITE_BUFFER";
    default:
        return nullptr;
    }
}

const char* DirectionName(EmulatedDrive::Direction d) {
    switch (d) {
    case EmulatedDrive::Direction::In:
        return "in";
    case EmulatedDrive::Direction::Out:
        return "out";
    case EmulatedDrive::Direction::None:
        break;
    }
    return "none";
}

}  // namespace

size_t DriveLogText::FormatEntry(const EmulatedDrive::LogEntry& e, char* out, size_t room) {
    TextLine line(out, room);
    const char* known = OpcodeName(e.opcode);
    if (known != nullptr) {
        line.Text(known);
    } else {
        line.Text("OP_").Hex(e.opcode, 2);
    }
    line.Text(" mode=").Decimal(e.mode).Text(" id=").Decimal(e.bufferId);
    line.Text(" offset=").Hex(e.bufferOffset).Text(" length=").Hex(e.length);
    line.Text(" control=").Hex(e.control, 2).Text(" dir=").Text(DirectionName(e.direction));
    line.Text(" hostlength=").Hex(e.hostDataLength).Text(" status=").Decimal(e.status);
    line.Text(" sense=").Hex(e.senseKey, 2).Put('/').Hex(e.asc, 2).Put('/').Hex(e.ascq, 2);
    return line.Length();
}

size_t DriveLogText::FormatOverflow(const EmulatedDrive& drive, char* out, size_t room) {
    if (drive.CommandCount() <= drive.LogSize()) {
        if (room != 0) out[0] = '\0';
        return 0;
    }
    TextLine line(out, room);
    line.Text("# ").Decimal(drive.CommandCount()).Text(" commands, first ").Decimal(drive.LogSize()).Text(" logged");
    return line.Length();
}

}  // namespace emulator
