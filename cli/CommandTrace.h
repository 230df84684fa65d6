#pragma once

#include <string>

#include "cli/Console.h"
#include "transport/SgIoTransport.h"

// --verbose: one line on the standard error for every command sent, with what the kernel
// returned; at Level 2 also the first bytes of the data that went out and came in.
class CommandTrace final : public SgIoTransport::Observer {
public:
    static constexpr size_t DataShown = 32;

    CommandTrace(Console& console, int level);

    void CommandDone(const SgIoTransport::Exchanged& command) override;

    // "3B 07 00 00 00 00 00 40 00 00 out 16384: status 0x00 host 0x00 driver 0x00 resid 0 12 ms",
    // with the sense after a CHECK CONDITION and the errno when the kernel refused the call.
    static std::string Line(const SgIoTransport::Exchanged& command);
    // "  data out: 00 11 ..." (the first DataShown bytes that went out or came in); empty when none.
    static std::string DataLine(const SgIoTransport::Exchanged& command);

private:
    Console& console_;
    int level_;
};
