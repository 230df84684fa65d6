// flashupgrade upgrading several drives at once against one: eight emulated drives whose every
// command takes 10 ms, on the simulated Linux machine. The wall time of --all over that of one
// drive of the same machine (the scan asks every drive either way), and the CPU time per drive
// against one drive's; and one drive on a machine of its own, against the time its commands
// took.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <string>

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

void AddDrives(CliBench& bench, unsigned count) {
    for (unsigned target = 0; target < count; ++target) {
        const std::string n = std::to_string(target);
        bench.Machine.AddDrive({0, 0, target, 0}, "sr" + n, "sg" + n).SetLatencyMicroseconds(LatencyUs);
    }
}

struct Timed {
    double WallMs = 0;
    double CpuMs = 0;
};

// Runs ARGUMENTS once per iteration; wall and CPU time per run.
Timed RunEach(benchmark::State& state, CliBench& bench, const char* arguments) {
    const Clock::time_point start = Clock::now();
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        if (bench.Run(arguments) != 0) state.SkipWithError("the upgrade failed");
    }
    const double runs = static_cast<double>(state.iterations());
    Timed timed;
    timed.WallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / runs;
    timed.CpuMs = (ProcessCpuMs() - cpuStart) / runs;
    return timed;
}

void BM_CliUpgradeAlone(benchmark::State& state) {
    CliBench bench;
    AddDrives(bench, 1);
    const Timed timed = RunEach(state, bench, "upgrade --yes");
    const double driveMs = static_cast<double>(bench.Machine.Machine.DriveMicroseconds()) / 1000.0 /
                           static_cast<double>(state.iterations());
    state.counters["total_ms"] = timed.WallMs;
    state.counters["drive_ms"] = driveMs;
    state.counters["x_drive"] = timed.WallMs / driveMs;
    state.counters["cpu_ms"] = timed.CpuMs;
}

void BM_CliUpgradeTowerOneDrive(benchmark::State& state) {
    CliBench bench;
    AddDrives(bench, TowerDrives);
    const Timed timed = RunEach(state, bench, "upgrade --drive 1 --yes");
    oneDriveWallMs = timed.WallMs;
    oneDriveCpuMs = timed.CpuMs;
    state.counters["total_ms"] = timed.WallMs;
    state.counters["cpu_ms"] = timed.CpuMs;
}

void BM_CliUpgradeTowerAll(benchmark::State& state) {
    CliBench bench;
    AddDrives(bench, TowerDrives);
    const Timed timed = RunEach(state, bench, "upgrade --all --yes");
    const double cpuPerDrive = timed.CpuMs / TowerDrives;
    state.counters["total_ms"] = timed.WallMs;
    state.counters["cpu_ms_per_drive"] = cpuPerDrive;
    if (oneDriveWallMs > 0) state.counters["x_one_drive"] = timed.WallMs / oneDriveWallMs;
    if (oneDriveCpuMs > 0) state.counters["x_cpu_one_drive"] = cpuPerDrive / oneDriveCpuMs;
}

// Few iterations: an upgrade is some thirty commands of 10 ms each.
BENCHMARK(BM_CliUpgradeAlone)->Name("BM_CliUpgrade/alone/latency_us:10000")->Iterations(5)->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliUpgradeTowerOneDrive)->Name("BM_CliUpgrade/8_drives/drive_1/latency_us:10000")->Iterations(5)
    ->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliUpgradeTowerAll)->Name("BM_CliUpgrade/8_drives/all/latency_us:10000")->Iterations(5)
    ->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
