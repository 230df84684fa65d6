// flashupgrade: the Linux program. Wires the front-end to the real system and runs one command.
#include <string>
#include <vector>

#include "cli/FlashUpgradeProgram.h"
#include "platform/host/HostFileApi.h"
#include "platform/linux/LinuxScsiSystem.h"
#include "platform/linux/PageAlignedBufferAllocator.h"
#include "platform/linux/PosixFileSystem.h"
#include "platform/linux/PosixSignals.h"
#include "platform/linux/PosixTerminal.h"
#include "transport/SgIoTransport.h"
#include "upgrade/FirmwareSlot.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

    LinuxScsiSystem scsi;
    SgIoTransport transport(scsi);
    PosixTerminal terminal;
    HostFileApi files;
    PosixFileSystem fileSystem;
    HostSleepApi sleep;
    PageAlignedBufferAllocator buffers;
    PosixSignals signals;
    terminal.Stopped = [&signals] { return signals.Caught() != 0; };
    const unsigned char* slot = reinterpret_cast<const unsigned char*>(&upgrade::EmbeddedSlot());
    FlashUpgradeProgram program(
        {transport, terminal, files, fileSystem, sleep, buffers, signals, slot, argc > 0 ? argv[0] : "flashupgrade"});
    return program.Run(arguments);
}
