// The host's cost of one drive's update on each stack, against the copy-only lower bound.
//
// update/<stack>/<granularity>: the whole update (banner, open, get-info where the stack asks
// it, every download, activation) on a device that answers at once (ImmediatePlatform). In
// the same iterations, interleaved so that both see the same machine, the lower bound copies
// the image into the same number of request buffers of the same size, at the same offset, and
// does nothing else. Both are timed by the CPU time of this thread, so that time the thread
// spends waiting for a core on a busy machine counts in neither. Counters: ratio (mean update time
// / mean copy time), ratio_min (best against best), copy_us (mean copy time), requests (sent) and
// expected (the least the update can send: get-info + ceil(image / chunk) + activate on the inbox
// stack, downloads + activate or commit on RST and VROC).
//
// simulated/<stack>/<granularity>: the same update on the simulated machine, where the drivers
// decode every request and the drive stages the image; ratio against the same lower bound.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "app/ImageCatalogue.h"
#include "bench/BenchMachines.h"
#include "bench/ImmediatePlatform.h"
#include "bench/ThreadClock.h"
#include "platform/Console.h"
#include "sim/Machine.h"
#include "sim/SimPlatform.h"
#include "stacks/inbox/InboxFirmware.h"
#include "stacks/inbox/MiniportLayout.h"
#include "stacks/vroc/NvmePassThroughLayout.h"
#include "stacks/rst/RstLayout.h"
#include "stacks/rst/RstDisks.h"
#include "stacks/vroc/VrocDisks.h"
#include "stacks/vroc/VrocLayout.h"

namespace velo::bench {
namespace {

using Clock = ThreadClock;
using Update = std::function<int(Io&, const DiskRecord&, const UpdateImage&)>;

struct Stack {
    std::size_t overhead;       // request bytes besides the chunk
    std::size_t dataAt;         // where the chunk stands in the request
    std::size_t otherRequests;  // requests besides the downloads
    DiskRecord disk;
    Update update;
    std::string (*machine)(int fwug);
};

Stack inboxStack() {
    return {miniport::REQUEST_OVERHEAD,
            miniport::DATA + storagefw::DOWNLOAD_V1_IMAGE,
            2,
            makeCandidate(L"\\\\.\\PHYSICALDRIVE0", DriverKind::Inbox),
            [](Io& io, const DiskRecord& disk, const UpdateImage& image) {
                return inboxUpdateDisk(io, disk, image).resultCode;
            },
            inboxMachine};
}

Stack rstStack() {
    return {rst::DOWNLOAD_OVERHEAD,
            rst::DOWNLOAD_IMAGE,
            1,
            makeCandidate(RST_PORT_PATH, DriverKind::RstPassThrough, 3),
            [](Io& io, const DiskRecord& disk, const UpdateImage& image) {
                return rstUpdateDisk(io, disk, image).resultCode;
            },
            rstMachine};
}

Stack vrocStack() {
    DiskRecord disk = makeCandidate(L"", DriverKind::VrocNonRaid);
    disk.vrocDiskId = 257;
    return {vroc::DOWNLOAD_OVERHEAD,
            nvmept::DATA_BUFFER,
            1,
            disk,
            [](Io& io, const DiskRecord& target, const UpdateImage& image) {
                return vrocUpdateDisk(io, target, image, 2).resultCode;
            },
            vrocMachine};
}

// The lower bound: every chunk copied once into a request buffer of the update's size.
void copyOnly(std::span<const std::uint8_t> image, std::size_t chunk, const Stack& stack) {
    std::vector<std::uint8_t> buffer(stack.overhead + chunk);
    for (std::size_t offset = 0; offset < image.size(); offset += chunk) {
        const std::size_t length = std::min(chunk, image.size() - offset);
        std::memcpy(buffer.data() + stack.dataAt, image.data() + offset, length);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(buffer.data());
}

// Runs the update once per iteration on the platform that makePlatform gives (made outside the
// time taken), then the lower bound, and reports both.
template <typename MakePlatform, typename CountRequests>
void measure(benchmark::State& state, const Stack& stack, MakePlatform makePlatform,
             CountRequests countRequests) {
    loadFirmwareImage(1);
    const UpdateImage image{std::span<const std::uint8_t>(imageBuffer), updatedFirmwareRevision};
    DiskRecord disk = stack.disk;
    disk.updateGranularity = static_cast<std::int32_t>(state.range(0));
    const std::size_t chunk = chunkLength(disk.updateGranularity);

    double updateTotal = 0, copyTotal = 0;
    double updateBest = 1e9, copyBest = 1e9;
    std::uint64_t requests = 0;
    int result = 0;
    for (auto _ : state) {
        auto platform = makePlatform();
        Console console(*platform);
        Io io{*platform, console};
        const auto t0 = Clock::now();
        result = stack.update(io, disk, image);
        const auto t1 = Clock::now();
        copyOnly(image.bytes, chunk, stack);
        const auto t2 = Clock::now();
        requests = countRequests(*platform);
        state.SetIterationTime(seconds(t1 - t0));
        updateTotal += seconds(t1 - t0);
        copyTotal += seconds(t2 - t1);
        updateBest = std::min(updateBest, seconds(t1 - t0));
        copyBest = std::min(copyBest, seconds(t2 - t1));
    }
    if (result != 0 && result != 1602)
        state.SkipWithError("the update failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IMAGE_SIZE));
    state.counters["ratio"] = updateTotal / copyTotal;
    state.counters["ratio_min"] = updateBest / copyBest;
    state.counters["copy_us"] = copyTotal / static_cast<double>(state.iterations()) * 1e6;
    state.counters["requests"] = static_cast<double>(requests);
    state.counters["expected"] =
        static_cast<double>((IMAGE_SIZE + chunk - 1) / chunk + stack.otherRequests);
    unloadFirmwareImage();
}

void onImmediateDevice(benchmark::State& state, const Stack& stack) {
    measure(
        state, stack, [] { return std::make_unique<ImmediatePlatform>(); },
        [](ImmediatePlatform& platform) { return platform.requests; });
}

void onSimulatedMachine(benchmark::State& state, const Stack& stack) {
    const std::string json = stack.machine(static_cast<int>(state.range(0)));
    measure(
        state, stack,
        [&json] {
            std::string error;
            return std::make_unique<sim::SimPlatform>(sim::loadMachineText(json, "bench", error));
        },
        [](sim::SimPlatform& platform) {
            std::uint64_t count = 0;
            for (std::size_t kind = 0; kind < sim::REQUEST_KIND_COUNT; ++kind)
                count += platform.machine().requestCount(static_cast<sim::RequestKind>(kind));
            return count;
        });
}

void updateInbox(benchmark::State& state) {
    onImmediateDevice(state, inboxStack());
}
void updateRst(benchmark::State& state) {
    onImmediateDevice(state, rstStack());
}
void updateVroc(benchmark::State& state) {
    onImmediateDevice(state, vrocStack());
}
void simulatedInbox(benchmark::State& state) {
    onSimulatedMachine(state, inboxStack());
}
void simulatedRst(benchmark::State& state) {
    onSimulatedMachine(state, rstStack());
}
void simulatedVroc(benchmark::State& state) {
    onSimulatedMachine(state, vrocStack());
}

BENCHMARK(updateInbox)
    ->Name("update/inbox")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(updateRst)
    ->Name("update/rst")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(updateVroc)
    ->Name("update/vroc")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(simulatedInbox)
    ->Name("simulated/inbox")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(simulatedRst)
    ->Name("simulated/rst")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(simulatedVroc)
    ->Name("simulated/vroc")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velo::bench
