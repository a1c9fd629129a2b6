// Figures for the cost of a run on the simulated stack: a whole run on the default machine, and
// loading it, and the image's SHA-256 check. The other files of this folder measure one update
// against its lower bound, the scan and the peak memory of whole runs. Prints the figures;
// asserts nothing.
#include <benchmark/benchmark.h>

#include <string_view>

#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "app/RunContext.h"
#include "bench/MemoryBenchmark.h"
#include "sim/Machine.h"
#include "sim/SimPlatform.h"
#include "platform/SystemSha256.h"

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

// The SHA-256 digest of one 2 MiB image through the host's libcrypto, as a run checks the image
// before its first firmware request.
void imageDigest(benchmark::State& state) {
    loadFirmwareImage(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(systemSha256(imageBuffer));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IMAGE_SIZE));
    unloadFirmwareImage();
}
BENCHMARK(imageDigest)->Unit(benchmark::kMillisecond);

void loadTheDefaultMachine(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(sim::loadDefaultMachine());
    }
}
BENCHMARK(loadTheDefaultMachine)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velo

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == velo::bench::MEASURE_SWITCH)
        return velo::bench::runForPeak(argc - 2, argv + 2);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
