// What an Upgrade and a Save cost the tool itself, next to what the drive costs: CPU time per
// 128 KiB against a plain copy-and-compare floor, wall time against the sum of the drive's
// latencies, and the heap an operation holds at its peak.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench/DialogRig.h"
#include "bench/HeapCounter.h"

namespace {

constexpr size_t FlashBytes = 131072;

// Nanoseconds per 128 KiB of the floor, for the ratios of the operations measured after it.
double floorNs = 0;

using Clock = std::chrono::steady_clock;

double NsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

void BM_CopyAndCompareFloor(benchmark::State& state) {
    std::vector<uint8_t> source(FlashBytes);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 131u);
    std::vector<uint8_t> copy(FlashBytes);
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        std::memcpy(copy.data(), source.data(), FlashBytes);
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(std::memcmp(copy.data(), source.data(), FlashBytes));
    }
    floorNs = NsSince(start) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FlashBytes));
    state.counters["ns_per_128KiB"] = floorNs;
}
BENCHMARK(BM_CopyAndCompareFloor);

template <bool (DialogRig::*Operation)()>
void BM_ZeroLatency(benchmark::State& state) {
    DialogRig rig;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!(rig.*Operation)()) state.SkipWithError("the operation failed");
    }
    const double ns = NsSince(start) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FlashBytes));
    state.counters["ns_per_128KiB"] = ns;
    if (floorNs > 0) state.counters["x_floor"] = ns / floorNs;
}
BENCHMARK_TEMPLATE(BM_ZeroLatency, &DialogRig::Upgrade)->Name("BM_Upgrade/latency_us:0");
BENCHMARK_TEMPLATE(BM_ZeroLatency, &DialogRig::Save)->Name("BM_Save/latency_us:0");

template <bool (DialogRig::*Operation)()>
void BM_WithLatency(benchmark::State& state) {
    DialogRig rig(static_cast<uint32_t>(state.range(0)));
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        if (!(rig.*Operation)()) state.SkipWithError("the operation failed");
    }
    const double totalUs = NsSince(start) / 1000.0;
    const double driveUs = static_cast<double>(rig.Transport.DriveMicroseconds);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["commands"] = static_cast<double>(rig.Transport.Commands) / iterations;
    state.counters["drive_ms"] = driveUs / iterations / 1000.0;
    state.counters["total_ms"] = totalUs / iterations / 1000.0;
    state.counters["x_drive"] = driveUs > 0 ? totalUs / driveUs : 0;
}
// Few iterations: an operation is 17 (Upgrade) or 8 (Save) commands, each the latency long.
BENCHMARK_TEMPLATE(BM_WithLatency, &DialogRig::Upgrade)
    ->Name("BM_Upgrade/latency_us")->Arg(1000)->Arg(10000)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_WithLatency, &DialogRig::Save)
    ->Name("BM_Save/latency_us")->Arg(1000)->Arg(10000)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

template <bool (DialogRig::*Operation)()>
void BM_PeakHeap(benchmark::State& state) {
    DialogRig rig;
    size_t heapPeak = 0;
    size_t allocations = 0;
    for (auto _ : state) {
        rig.Buffers.ResetPeak();
        const size_t baseline = HeapCounter::LiveBytes();
        const size_t allocationsBefore = HeapCounter::Allocations();
        HeapCounter::ResetPeak();
        if (!(rig.*Operation)()) state.SkipWithError("the operation failed");
        heapPeak = HeapCounter::PeakBytes() - baseline;
        allocations = HeapCounter::Allocations() - allocationsBefore;
    }
    state.counters["buffer_peak_bytes"] = static_cast<double>(rig.Buffers.PeakBytes());
    state.counters["heap_peak_bytes"] = static_cast<double>(heapPeak);
    state.counters["heap_allocations"] = static_cast<double>(allocations);
}
BENCHMARK_TEMPLATE(BM_PeakHeap, &DialogRig::Upgrade)->Name("BM_Upgrade/peak_heap")->Iterations(3);
BENCHMARK_TEMPLATE(BM_PeakHeap, &DialogRig::Save)->Name("BM_Save/peak_heap")->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
