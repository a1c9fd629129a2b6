// How the cost of a scan pass grows with the number of disks: scan/<machine>/<disks> runs
// discovery and identify on a generated machine (loaded outside the time taken).
// us_per_disk stays flat while the scan grows linearly; calls counts the platform calls the
// scan made (each open, set, property, interface look-up and request).
#include <benchmark/benchmark.h>

#include <chrono>

#include "app/Passes.h"
#include "bench/BenchMachines.h"
#include "platform/Console.h"
#include "platform/TracingPlatform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace velo::bench {
namespace {

void scan(benchmark::State& state, ScanMachine kind) {
    const auto disks = static_cast<std::size_t>(state.range(0));
    const std::string json = scanMachine(kind, disks);
    std::size_t targets = 0;
    std::uint64_t calls = 0;
    for (auto _ : state) {
        std::string error;
        sim::SimPlatform platform(sim::loadMachineText(json, "bench", error));
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        Console console(platform);
        Io io{platform, console};
        DiskScanner scanner;
        DiskList output;
        const auto t0 = std::chrono::steady_clock::now();
        runScanPass(io, scanner, output);
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        targets = output.size();
    }
    // The calls of one more scan, counted through the trace layer (not timed).
    {
        std::string error;
        sim::SimPlatform platform(sim::loadMachineText(json, "bench", error));
        TracingPlatform tracing(platform, [&calls](std::string_view) { ++calls; });
        Console console(tracing);
        Io io{tracing, console};
        DiskScanner scanner;
        DiskList output;
        runScanPass(io, scanner, output);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * disks));
    state.counters["us_per_disk"] = benchmark::Counter(
        static_cast<double>(disks) * 1e-6,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["targets"] = static_cast<double>(targets);
    state.counters["calls"] = static_cast<double>(calls);
}

void scanInbox(benchmark::State& state) {
    scan(state, ScanMachine::Inbox);
}
void scanOther(benchmark::State& state) {
    scan(state, ScanMachine::Other);
}
void scanRst(benchmark::State& state) {
    scan(state, ScanMachine::Rst);
}
void scanMixed(benchmark::State& state) {
    scan(state, ScanMachine::Mixed);
}

#define VELO_SCAN_SIZES \
    ->RangeMultiplier(8)->Range(1, 4096)->UseManualTime()->Unit(benchmark::kMillisecond)
BENCHMARK(scanInbox)->Name("scan/inbox") VELO_SCAN_SIZES;
BENCHMARK(scanOther)->Name("scan/other") VELO_SCAN_SIZES;
BENCHMARK(scanRst)->Name("scan/rst") VELO_SCAN_SIZES;
BENCHMARK(scanMixed)->Name("scan/mixed") VELO_SCAN_SIZES;
#undef VELO_SCAN_SIZES

}  // namespace
}  // namespace velo::bench
