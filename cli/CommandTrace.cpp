#include "cli/CommandTrace.h"

#include <cstdio>
#include <cstring>

#include "cli/FailureTexts.h"

namespace {

std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", unsigned{bytes[i]});
        text += byte;
    }
    return text;
}

const char* DirectionName(int direction) {
    switch (direction) {
    case SG_DXFER_TO_DEV: return "out";
    case SG_DXFER_FROM_DEV: return "in";
    default: return "none";
    }
}

}  // namespace

CommandTrace::CommandTrace(Console& console, int level) : console_(console), level_(level) {}

std::string CommandTrace::Line(const SgIoTransport::Exchanged& command) {
    std::string line = "flashupgrade: " + HexBytes(command.Cdb.Bytes, command.Cdb.Length) + " " +
                       DirectionName(command.Direction) + " " + std::to_string(command.Length) + ": ";
    if (command.Error != 0) return line + "error " + std::to_string(command.Error) + " (" + std::strerror(command.Error) + ")";
    const sg_io_hdr_t& header = command.Header;
    char outcome[96];
    std::snprintf(outcome, sizeof outcome, "status 0x%02X host 0x%02X driver 0x%02X resid %d %u ms",
                  unsigned{header.status}, unsigned{header.host_status}, unsigned{header.driver_status}, header.resid,
                  unsigned{header.duration});
    line += outcome;
    uint8_t key = 0, asc = 0, ascq = 0;
    if (SgIoTransport::ParseSense(command.Sense, header.sb_len_wr, key, asc, ascq)) {
        line += ", " + FailureTexts::Sense(key, asc, ascq);
    }
    return line;
}

std::string CommandTrace::DataLine(const SgIoTransport::Exchanged& command) {
    if (command.Data == nullptr || command.Length == 0 || command.Error != 0) return std::string();
    uint32_t moved = command.Length;
    // What came in is what the drive sent: the room less the residual.
    if (command.Direction == SG_DXFER_FROM_DEV) {
        const int resid = command.Header.resid;
        moved = resid > 0 && static_cast<uint32_t>(resid) <= moved ? moved - static_cast<uint32_t>(resid) : moved;
    }
    const size_t shown = moved < DataShown ? moved : DataShown;
    if (shown == 0) return std::string();
    return std::string("flashupgrade:   data ") + DirectionName(command.Direction) + ": " +
           HexBytes(command.Data, shown);
}

void CommandTrace::CommandDone(const SgIoTransport::Exchanged& command) {
    console_.Line(TerminalApi::Stream::Error, Line(command));
    if (level_ < 2) return;
    const std::string data = DataLine(command);
    if (!data.empty()) console_.Line(TerminalApi::Stream::Error, data);
}
