// Figures for the cost of a run on the simulated stack: a whole run, one drive's update at two
// granularities, and loading a machine file. Prints the figures; asserts nothing.
#include <benchmark/benchmark.h>

#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "app/RunContext.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"
#include "platform/Console.h"
#include "transport/InboxTransport.h"

namespace velo {
namespace {

void wholeRunOnTheDefaultMachine(benchmark::State& state) {
    RunOptions options;
    options.silent = true;
    for (auto _ : state) {
        sim::SimPlatform platform(sim::loadDefaultMachine());
        runVelo(platform, options);
        benchmark::DoNotOptimize(platform.output().size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IMAGE_SIZE));
    unloadFirmwareImage();
}
BENCHMARK(wholeRunOnTheDefaultMachine)->Unit(benchmark::kMillisecond);

void inboxUpdate(benchmark::State& state) {
    loadFirmwareImage(1);
    const auto granularity = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        sim::SimPlatform platform(sim::loadDefaultMachine());
        Console console(platform);
        Io io{platform, console};
        DiskRecord disk = makeCandidate(L"\\\\.\\PHYSICALDRIVE0", DriverKind::Inbox);
        disk.updateGranularity = granularity;
        state.ResumeTiming();
        benchmark::DoNotOptimize(inboxUpdateDisk(io, disk, {imageBuffer, updatedFirmwareRevision}));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IMAGE_SIZE));
    state.counters["requests"] = static_cast<double>(IMAGE_SIZE / (4096 * granularity) + 2);
    unloadFirmwareImage();
}
BENCHMARK(inboxUpdate)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

void loadTheDefaultMachine(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(sim::loadDefaultMachine());
    }
}
BENCHMARK(loadTheDefaultMachine)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velo

BENCHMARK_MAIN();
