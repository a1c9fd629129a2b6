// How the cost of a scan pass grows with the number of disks: scan/<machine>/<disks> runs
// discovery and identify on a generated machine (loaded outside the time taken, which is the
// CPU time of this thread). us_per_disk stays flat while the scan grows linearly; calls counts
// the platform calls the scan made (each set, property, interface look-up, open, request and
// close), as a trace would list them.
#include <benchmark/benchmark.h>

#include "app/Passes.h"
#include "bench/BenchMachines.h"
#include "bench/ThreadClock.h"
#include "platform/Console.h"
#include "trace/TracingPlatform.h"
#include "sim/Machine.h"
#include "sim/SimPlatform.h"

namespace velo::bench {
namespace {

void scan(benchmark::State& state, ScanMachine kind) {
    const auto disks = static_cast<std::size_t>(state.range(0));
    std::string error;
    // A scan changes nothing a later scan sees (it identifies, and counts opens and requests),
    // so one machine serves every iteration.
    sim::SimPlatform platform(sim::loadMachineText(scanMachine(kind, disks), "bench", error));
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::size_t targets = 0;
    double total = 0;
    for (auto _ : state) {
        Console console(platform);
        Io io{platform, console};
        DiskScanner scanner;
        DiskList output;
        const auto t0 = ThreadClock::now();
        runScanPass(io, scanner, output);
        const double taken = seconds(ThreadClock::now() - t0);
        state.SetIterationTime(taken);
        total += taken;
        targets = output.size();
    }
    // The calls of one more scan, counted through the trace layer (not timed).
    std::uint64_t calls = 0;
    TracingPlatform tracing(platform, [&calls](std::string_view) { ++calls; });
    Console console(tracing);
    Io io{tracing, console};
    DiskScanner scanner;
    DiskList output;
    runScanPass(io, scanner, output);

    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * disks));
    state.counters["us_per_disk"] = total / static_cast<double>(state.iterations() * disks) * 1e6;
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
