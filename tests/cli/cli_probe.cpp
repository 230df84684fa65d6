// flashupgrade's front-end on a simulated machine with two drives, for the scripts that check its
// output with other tools (a JSON parser). The second drive's vendor holds bytes that a JSON
// string must escape.
//   cli_probe [--empty-machine] ARGUMENTS...   prints what the program printed; exits with its
//                                              status (--empty-machine: no drive at all)
#include <cstdio>
#include <string>

#include "tests/cli/CliBench.h"

namespace {

void AddDrives(CliBench& bench) {
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    emulator::EmulatedDrive& odd = bench.Machine.AddDrive({70000, 0, 300, 0}, "sr1", "sg1", 0x40000);
    emulator::DriveConfig config = odd.Config();
    const char vendor[8] = {'Q', '"', '\\', '\x01', '\xE9', 'x', ' ', ' '};
    for (int i = 0; i < 8; ++i) config.vendor[i] = vendor[i];
    config.versionMajor = 2;
    config.versionMinor = 10;
    odd.Configure(config);
}

}  // namespace

int main(int argc, char** argv) {
    CliBench bench;
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "--empty-machine") {
        first = 2;
    } else {
        AddDrives(bench);
    }
    std::string arguments;
    for (int i = first; i < argc; ++i) arguments += std::string(i > first ? " " : "") + argv[i];
    const int status = bench.Run(arguments);
    std::fwrite(bench.Terminal.Out.data(), 1, bench.Terminal.Out.size(), stdout);
    std::fwrite(bench.Terminal.Err.data(), 1, bench.Terminal.Err.size(), stderr);
    return status;
}
