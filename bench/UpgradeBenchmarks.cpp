// flashupgrade's upgrade of a drive that already holds the image, against a save of the same
// drive, on the simulated Linux machine with one emulated drive whose every command takes 10 ms.
// Both send the same commands, the scan's questions and the reads of the whole flash, so the
// upgrade with nothing to do should cost what the save costs: x_save, the upgrade's time over
// the save's (the goal: at most 1.05). The forced upgrade of such a drive beside them: the same
// reads, then the writes with their read-backs, the commit and the read-back of the whole flash.
//
// Each row's time is that of flashupgrade's runs alone: what is put right between two runs (the
// saved file removed, the terminal's text dropped) is not counted. Before its timed runs each
// row makes one run of its own and checks that the drive was written exactly when it should be;
// a row whose run writes where it should not, or fails, ends with an error instead of a figure.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/cli/CliBench.h"

namespace {

using emulator::EmulatedDrive;
using Clock = std::chrono::steady_clock;

constexpr uint32_t LatencyUs = 10000;
constexpr char SavedFile[] = "flash.bin";

// The save's time per run, for the upgrades' x_save measured after it.
double saveMs = 0;

// One drive on its own machine holding the image of CLIBENCH's slot, committed and reported: the
// drive after an upgrade to it and a restart.
EmulatedDrive& AddDriveHoldingImage(CliBench& bench) {
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    const std::vector<unsigned char> image = bench.Image();
    std::memcpy(drive.Flash(), image.data(), image.size());
    drive.ResetStaging();
    emulator::DriveConfig config = drive.Config();
    config.versionMajor = 1;  // the slot's "1.51"
    config.versionMinor = 51;
    drive.Configure(config);
    drive.SetLatencyMicroseconds(LatencyUs);
    return drive;
}

bool HoldsImage(const CliBench& bench, const EmulatedDrive& drive) {
    return std::memcmp(drive.Flash(), bench.Image().data(), CliBench::ImageSize) == 0;
}

// What one run must do to the drive: COMMITS commits, and for none not a single write; its
// standard output says SAYS; SAVES: the flash lands in SavedFile.
struct Expected {
    std::string Arguments;
    uint32_t Commits;
    std::string Says;
    bool Saves;
};

// Runs EXPECTED's arguments once, untimed, and checks what it did. Why it is no run to time, or
// empty.
std::string CheckedRun(CliBench& bench, EmulatedDrive& drive, const Expected& expected) {
    const std::string run = "flashupgrade " + expected.Arguments;
    bench.Files.Files.erase(SavedFile);
    const uint32_t before = drive.CommitCount();
    drive.ClearLog();
    if (bench.Run(expected.Arguments) != 0) return run + " failed";
    const uint32_t commits = drive.CommitCount() - before;
    if (commits != expected.Commits) {
        return run + " committed " + std::to_string(commits) + " times, not " + std::to_string(expected.Commits);
    }
    if (expected.Commits == 0 && CliBench::WritesAndCommits(drive) != 0) return run + " wrote to the drive";
    if (!HoldsImage(bench, drive)) return run + " left the drive without the image";
    if (bench.Terminal.Out.find(expected.Says) == std::string::npos) return run + " did not say: " + expected.Says;
    const auto saved = bench.Files.Files.find(SavedFile);
    if (expected.Saves && (saved == bench.Files.Files.end() || saved->second != bench.Image())) {
        return run + " did not save the flash";
    }
    return std::string();
}

struct Figures {
    double Ms = 0;        // per run
    double DriveMs = 0;   // the drive's own time per run (its latency, as the machine waited it)
    double Commands = 0;  // per run
};

// Times ARGUMENTS once per iteration; each run starts with no saved file and an empty terminal.
Figures RunTimed(benchmark::State& state, CliBench& bench, EmulatedDrive& drive, const std::string& arguments) {
    const uint64_t driveUsBefore = bench.Machine.Machine.DriveMicroseconds();
    drive.ClearLog();
    double seconds = 0;
    for (auto _ : state) {
        bench.Files.Files.erase(SavedFile);
        bench.Terminal.Out.clear();
        bench.Terminal.Err.clear();
        const Clock::time_point start = Clock::now();
        const int status = bench.Run(arguments);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        if (status != 0) {
            state.SkipWithError(("flashupgrade " + arguments + " failed").c_str());
            break;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    Figures figures;
    if (runs == 0) return figures;
    figures.Ms = seconds * 1e3 / runs;
    figures.DriveMs = static_cast<double>(bench.Machine.Machine.DriveMicroseconds() - driveUsBefore) / 1e3 / runs;
    figures.Commands = static_cast<double>(drive.CommandCount()) / runs;
    return figures;
}

void Report(benchmark::State& state, const Figures& figures) {
    state.counters["total_ms"] = figures.Ms;
    state.counters["drive_ms"] = figures.DriveMs;
    state.counters["commands"] = figures.Commands;
    if (saveMs > 0) state.counters["x_save"] = figures.Ms / saveMs;
}

// Runs EXPECTED's arguments on a drive holding the image: checked once, then timed.
Figures Measure(benchmark::State& state, const Expected& expected) {
    CliBench bench;
    EmulatedDrive& drive = AddDriveHoldingImage(bench);
    const std::string wrong = CheckedRun(bench, drive, expected);
    if (!wrong.empty()) {
        state.SkipWithError(wrong.c_str());
        return Figures();
    }
    const uint32_t before = drive.CommitCount();
    const Figures figures = RunTimed(state, bench, drive, expected.Arguments);
    const uint64_t commits = drive.CommitCount() - before;
    if (!state.error_occurred() && commits != uint64_t{expected.Commits} * static_cast<uint64_t>(state.iterations())) {
        state.SkipWithError(("flashupgrade " + expected.Arguments + " committed otherwise in its timed runs").c_str());
    }
    return figures;
}

void BM_CliSave(benchmark::State& state) {
    const Figures figures = Measure(state, {std::string("save ") + SavedFile, 0, "", true});
    saveMs = figures.Ms;
    Report(state, figures);
}

void BM_CliUpgradeNothingToDo(benchmark::State& state) {
    Report(state, Measure(state, {"upgrade --yes", 0,
                                  "Drive 1 already holds this image (version 1.51): nothing written.", false}));
}

void BM_CliUpgradeForced(benchmark::State& state) {
    Report(state, Measure(state, {"upgrade --yes --force", 1, "written again, as asked (--force)", false}));
}

// Few iterations: a save is a dozen commands of 10 ms each, a forced upgrade some forty.
BENCHMARK(BM_CliSave)->Name("BM_CliHeldImage/save/latency_us:10000")->Iterations(10)->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliUpgradeNothingToDo)->Name("BM_CliHeldImage/upgrade/latency_us:10000")->Iterations(10)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliUpgradeForced)->Name("BM_CliHeldImage/upgrade_force/latency_us:10000")->Iterations(10)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
