// What the command log costs a drive: the commands of an upgrade (inquiry, identity, eight 16 KiB
// chunks written and read back, the commit, eight 16 KiB chunks dumped) through two
// EmulatedDriveFiles in turn, one without a log and one with, so that whatever else the machine
// does meets both alike. The log is the log file written line by line as the commands run
// (OpenLog), or the kept log written whole after each command (WriteLog, as the emulators once
// did). x_without is the rate with the log over the rate without. With flash files each commit
// also saves the flash whole, as the emulators run their drives; without, the drive touches no
// file but the log.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDriveFile.h"

namespace {

using emulator::EmulatedDrive;
using emulator::EmulatedDriveFile;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t ChunkLength = 0x4000;
constexpr int Chunks = 8;
// The log file is started again after this many upgrades, so that a long run does not fill the disk.
constexpr int64_t UpgradesPerLog = 1000;

struct Command {
    Bytes Cdb;
    EmulatedDrive::Direction Direction;
};

Bytes BufferCdb(uint8_t opcode, uint8_t mode, uint32_t offset, uint32_t length, uint8_t control) {
    // Buffer 0: the flash offset is the 24-bit offset itself.
    return {opcode, mode, 0, static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8),
            static_cast<uint8_t>(offset), static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length), control};
}

std::vector<Command> UpgradeCommands() {
    using Dir = EmulatedDrive::Direction;
    std::vector<Command> commands = {{{0x12, 0, 0, 0, 36, 0}, Dir::In}, {BufferCdb(0x3C, 1, 0, 16, 0), Dir::In}};
    for (int chunk = 0; chunk < Chunks; ++chunk) {
        commands.push_back({BufferCdb(0x3B, 7, chunk * ChunkLength, ChunkLength, 0), Dir::Out});
        commands.push_back({BufferCdb(0x3C, 2, chunk * ChunkLength, ChunkLength, 0), Dir::In});
    }
    commands.push_back({BufferCdb(0x3B, 4, 0, 0, 0), Dir::None});
    for (int chunk = 0; chunk < Chunks; ++chunk) {
        commands.push_back({BufferCdb(0x3C, 1, chunk * ChunkLength, ChunkLength, 1), Dir::In});
    }
    return commands;
}

// WHOLE_LOG: the kept log written there after every command.
bool RunUpgrade(EmulatedDriveFile& drive, const std::vector<Command>& commands, Bytes& data,
                const std::string& wholeLog) {
    bool good = true;
    for (const Command& c : commands) {
        EmulatedDrive::Request request;
        request.cdb = c.Cdb.data();
        request.cdbLength = static_cast<uint32_t>(c.Cdb.size());
        request.direction = c.Direction;
        request.data = c.Direction == EmulatedDrive::Direction::None ? nullptr : data.data();
        request.dataLength = c.Direction == EmulatedDrive::Direction::None ? 0 : ChunkLength;
        good = drive.Execute(request).status == EmulatedDrive::StatusGood && good;
        if (!wholeLog.empty()) good = drive.WriteLog(wholeLog) && good;
    }
    return good;
}

enum Log { LineByLine = 1, WholeAfterEach = 2 };

// One upgrade on DRIVE; its wall time in seconds.
double TimedUpgrade(EmulatedDriveFile& drive, const std::vector<Command>& commands, Bytes& data,
                    const std::string& wholeLog, bool& good) {
    const Clock::time_point start = Clock::now();
    good = RunUpgrade(drive, commands, data, wholeLog) && good;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_DriveLog(benchmark::State& state) {
    const Log log = static_cast<Log>(state.range(0));
    const bool flashFiles = state.range(1) != 0;
    const std::string base = "/tmp/drive-log-bench-" + std::to_string(getpid());
    const emulator::DriveConfig config;
    EmulatedDriveFile plain(config);
    EmulatedDriveFile logged(config);
    if (flashFiles && !(plain.Create(base + "-plain.bin") && logged.Create(base + "-logged.bin"))) {
        state.SkipWithError("no flash file");
    }
    const std::vector<Command> commands = UpgradeCommands();
    Bytes data(ChunkLength, 0x5A);
    double withoutSeconds = 0;
    double withSeconds = 0;
    int64_t upgrades = 0;
    bool good = true;
    for (auto _ : state) {
        if (log == LineByLine && upgrades % UpgradesPerLog == 0 && !logged.OpenLog(base + ".log")) {
            state.SkipWithError("no log file");
        }
        // The kept log of one program's run: the commands of this upgrade.
        if (log == WholeAfterEach) logged.Drive().ClearLog();
        ++upgrades;
        withoutSeconds += TimedUpgrade(plain, commands, data, std::string(), good);
        withSeconds += TimedUpgrade(logged, commands, data, log == WholeAfterEach ? base + ".log" : std::string(), good);
    }
    if (!good) state.SkipWithError("a command failed");
    const double count = static_cast<double>(upgrades) * static_cast<double>(commands.size());
    state.counters["commands_per_s"] = count / withSeconds;
    state.counters["without_per_s"] = count / withoutSeconds;
    state.counters["x_without"] = withoutSeconds / withSeconds;
    for (const char* file : {".log", "-plain.bin", "-logged.bin"}) std::remove((base + file).c_str());
}

}  // namespace

// log: 1 line by line, 2 whole after each command.
BENCHMARK(BM_DriveLog)
    ->ArgNames({"log", "flash_files"})
    ->Args({LineByLine, 1})->Args({WholeAfterEach, 1})->Args({LineByLine, 0})->Args({WholeAfterEach, 0});
