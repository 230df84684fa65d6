// What one scan of the SCSI device map costs per unit, on simulated machines of growing size:
// every unit a CD-ROM, the first ones with a drive letter and an emulated drive behind it, the
// rest searched through all drive letters in vain (the dearest path of the scan). A port lists an
// inquiry entry of 48 bytes for every unit, so the scan's 2048-byte inquiry buffer holds at most
// 41 of them: the last machine, 4 buses of 16 targets a port, shows what a scan costs when every
// port is skipped for that reason (listed 0; "per_unit" then counts units never looked at).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tests/support/PassThroughBench.h"

namespace {

constexpr unsigned DriveLetters = 24;   // C: to Z:

void BM_PassThroughScan(benchmark::State& state) {
    const unsigned ports = static_cast<unsigned>(state.range(0));
    const unsigned buses = static_cast<unsigned>(state.range(1));
    const unsigned targets = static_cast<unsigned>(state.range(2));
    // NT 4: every port is scanned, whatever its DOS name. Its read-only drive handles would be
    // refused by the Wine-like access rule, which a real NT 4 does not apply.
    PassThroughBench bench(4);
    bench.Machine.SetAccessChecked(false);
    unsigned unit = 0;
    for (unsigned p = 0; p < ports; ++p) {
        bench.AddPort(static_cast<uint8_t>(p), std::vector<uint8_t>(buses, static_cast<uint8_t>(targets)));
        for (unsigned b = 0; b < buses; ++b) {
            for (unsigned t = 0; t < targets; ++t, ++unit) {
                const std::string device = "CdRom" + std::to_string(unit);
                const uint8_t port = static_cast<uint8_t>(p), bus = static_cast<uint8_t>(b);
                const uint8_t target = static_cast<uint8_t>(t);
                bench.AddUnit(port, bus, target, device);
                if (unit < DriveLetters) {
                    bench.AddDrive("\\Device\\" + device, port, bus, target,
                                   std::string(1, static_cast<char>('C' + unit)) + ":");
                }
            }
        }
    }
    PassThroughTransport& transport = bench.Start();
    size_t listed = 0;
    for (auto _ : state) {
        DeviceList list;
        transport.EnumerateDevices(list);
        listed = list.Count();
        benchmark::DoNotOptimize(listed);
    }
    state.counters["units"] = unit;
    state.counters["listed"] = static_cast<double>(listed);
    state.counters["per_unit"] =
        benchmark::Counter(static_cast<double>(unit) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PassThroughScan)
    ->Args({1, 1, 1})
    ->Args({2, 2, 4})
    ->Args({4, 2, 8})
    ->Args({8, 4, 8})
    ->Args({8, 4, 16})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
