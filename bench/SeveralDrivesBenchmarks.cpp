// flashupgrade upgrading several drives at once against one: eight emulated drives whose every
// command takes 10 ms, on the simulated Linux machine. The wall time of --all over that of one
// drive of the same machine (the scan asks every drive either way), and the CPU time per drive
// against one drive's; and one drive on a machine of its own, against the time its commands
// took. Before each run the drives get their old firmware back, outside the time: a drive that
// holds the image is left alone, and the upgrade of one that does is measured beside a save in
// UpgradeBenchmarks.cpp.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/cli/CliBench.h"

namespace {

constexpr uint32_t LatencyUs = 10000;
constexpr unsigned TowerDrives = 8;

using Clock = std::chrono::steady_clock;

// The figures of `upgrade --drive 1` on the tower, for the ratios of `--all` measured after it.
double oneDriveWallMs = 0;
double oneDriveCpuMs = 0;

double ProcessCpuMs() {
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A machine of COUNT drives, each with the firmware it came with: older than the image, so that
// an upgrade writes it.
class DrivesToUpgrade {
public:
    CliBench Bench;

    explicit DrivesToUpgrade(unsigned count) {
        for (unsigned target = 0; target < count; ++target) {
            const std::string n = std::to_string(target);
            emulator::EmulatedDrive& drive = Bench.Machine.AddDrive({0, 0, target, 0}, "sr" + n, "sg" + n);
            drive.SetLatencyMicroseconds(LatencyUs);
            drives_.push_back({&drive, std::vector<uint8_t>(drive.Flash(), drive.Flash() + drive.FlashSize())});
        }
    }

    // Puts the old firmware back into every drive: flashupgrade leaves a drive that holds the
    // image alone, and each run is to time an upgrade that writes.
    void PutOldFirmwareBack() {
        for (const OldFirmware& old : drives_) {
            std::memcpy(old.Drive->Flash(), old.Flash.data(), old.Flash.size());
            old.Drive->ResetStaging();
        }
        Bench.Terminal.Out.clear();
        Bench.Terminal.Err.clear();
    }

    uint64_t Commits() const {
        uint64_t commits = 0;
        for (const OldFirmware& old : drives_) commits += old.Drive->CommitCount();
        return commits;
    }

private:
    struct OldFirmware {
        emulator::EmulatedDrive* Drive;
        std::vector<uint8_t> Flash;
    };
    std::vector<OldFirmware> drives_;
};

struct Timed {
    double WallMs = 0;
    double CpuMs = 0;
};

// Runs ARGUMENTS once per iteration, each time on drives with their old firmware, which UPGRADED
// of them must commit; wall and CPU time per run, of the runs alone.
Timed RunEach(benchmark::State& state, DrivesToUpgrade& drives, const char* arguments, unsigned upgraded) {
    const uint64_t commitsBefore = drives.Commits();
    double wallMs = 0;
    double cpuMs = 0;
    for (auto _ : state) {
        drives.PutOldFirmwareBack();
        const Clock::time_point start = Clock::now();
        const double cpuStart = ProcessCpuMs();
        const int status = drives.Bench.Run(arguments);
        cpuMs += ProcessCpuMs() - cpuStart;
        const std::chrono::duration<double, std::milli> wall = Clock::now() - start;
        wallMs += wall.count();
        state.SetIterationTime(wall.count() / 1e3);
        if (status != 0) {
            state.SkipWithError("the upgrade failed");
            break;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    if (!state.error_occurred() &&
        drives.Commits() - commitsBefore != uint64_t{upgraded} * static_cast<uint64_t>(state.iterations())) {
        state.SkipWithError("the runs did not commit once to each drive they upgrade");
    }
    Timed timed;
    if (runs == 0) return timed;
    timed.WallMs = wallMs / runs;
    timed.CpuMs = cpuMs / runs;
    return timed;
}

void BM_CliUpgradeAlone(benchmark::State& state) {
    DrivesToUpgrade drives(1);
    const Timed timed = RunEach(state, drives, "upgrade --yes", 1);
    const double driveMs = static_cast<double>(drives.Bench.Machine.Machine.DriveMicroseconds()) / 1000.0 /
                           static_cast<double>(state.iterations());
    state.counters["total_ms"] = timed.WallMs;
    state.counters["drive_ms"] = driveMs;
    state.counters["x_drive"] = timed.WallMs / driveMs;
    state.counters["cpu_ms"] = timed.CpuMs;
}

void BM_CliUpgradeTowerOneDrive(benchmark::State& state) {
    DrivesToUpgrade drives(TowerDrives);
    const Timed timed = RunEach(state, drives, "upgrade --drive 1 --yes", 1);
    oneDriveWallMs = timed.WallMs;
    oneDriveCpuMs = timed.CpuMs;
    state.counters["total_ms"] = timed.WallMs;
    state.counters["cpu_ms"] = timed.CpuMs;
}

void BM_CliUpgradeTowerAll(benchmark::State& state) {
    DrivesToUpgrade drives(TowerDrives);
    const Timed timed = RunEach(state, drives, "upgrade --all --yes", TowerDrives);
    const double cpuPerDrive = timed.CpuMs / TowerDrives;
    state.counters["total_ms"] = timed.WallMs;
    state.counters["cpu_ms_per_drive"] = cpuPerDrive;
    if (oneDriveWallMs > 0) state.counters["x_one_drive"] = timed.WallMs / oneDriveWallMs;
    if (oneDriveCpuMs > 0) state.counters["x_cpu_one_drive"] = cpuPerDrive / oneDriveCpuMs;
}

// Few iterations: an upgrade is some forty commands of 10 ms each.
BENCHMARK(BM_CliUpgradeAlone)->Name("BM_CliUpgrade/alone/latency_us:10000")->Iterations(5)->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliUpgradeTowerOneDrive)->Name("BM_CliUpgrade/8_drives/drive_1/latency_us:10000")->Iterations(5)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliUpgradeTowerAll)->Name("BM_CliUpgrade/8_drives/all/latency_us:10000")->Iterations(5)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
