// Figures for the cost of a run on the simulated stack: a whole run, one drive's update on the
// inbox, Intel RST and Intel VROC stacks at two granularities, and loading a machine file. Prints
// the figures; asserts nothing.
#include <benchmark/benchmark.h>

#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "app/RunContext.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"
#include "platform/Console.h"
#include "transport/InboxTransport.h"
#include "transport/RstTransport.h"
#include "transport/Vroc.h"

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

// One pass-through drive at path id 3 behind an Intel RST controller, at the given granularity.
std::string rstMachine(int fwug) {
    return R"({"format": "velo-machine", "version": 1, "controllers": [{
        "instanceId": "PCI\\VEN_8086&DEV_A77F&SUBSYS_00008086&REV_00\\3&11583659&0&B8",
        "driver": "rst",
        "drives": [{"pathId": 3, "drive": {"serial": "S", "model": "VANTORA QX7B2 1TB",
            "firmwareRevision": "QLR2KAXA", "fwug": )" +
           std::to_string(fwug) + R"(, "slots": [{"number": 1}, {"number": 2}]}}]}]})";
}

// One drive's update on a fresh machine per iteration: the time of the update alone, and the
// requests it sent.
template <typename Update>
void updateOn(benchmark::State& state, const std::string& machineJson, DiskRecord disk,
              Update update) {
    loadFirmwareImage(1);
    disk.updateGranularity = static_cast<std::int32_t>(state.range(0));
    std::string error;
    std::size_t requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim::SimPlatform platform(sim::loadMachineText(machineJson, "bench", error));
        Console console(platform);
        Io io{platform, console};
        state.ResumeTiming();
        benchmark::DoNotOptimize(
            update(io, disk, UpdateImage{imageBuffer, updatedFirmwareRevision}));
        requests = platform.machine().requests().size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IMAGE_SIZE));
    state.counters["requests"] = static_cast<double>(requests);
    unloadFirmwareImage();
}

void rstUpdate(benchmark::State& state) {
    updateOn(state, rstMachine(static_cast<int>(state.range(0))),
             makeCandidate(L"\\\\?\\pci#ven_8086&dev_a77f&subsys_00008086&rev_00#3&11583659&0&b8#"
                           L"{2accfe60-c130-11d2-b082-00a0c91efb8b}",
                           DriverKind::RstPassThrough, 3),
             [](Io& io, const DiskRecord& target, const UpdateImage& image) {
                 return rstUpdateDisk(io, target, image);
             });
}
BENCHMARK(rstUpdate)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// One non-RAID drive with disk id 0x101 on SCSI port 2 behind the VROC driver.
std::string vrocMachine(int fwug) {
    return R"({"format": "velo-machine", "version": 1, "scsiPorts": [{
        "port": 2, "driver": "vroc",
        "disks": [{"diskId": 257, "drive": {"serial": "S", "model": "VANTORA QX7B2 1TB",
            "firmwareRevision": "QLR2KAXA", "fwug": )" +
           std::to_string(fwug) + R"(, "slots": [{"number": 1}, {"number": 2}]}}]}]})";
}

void vrocUpdate(benchmark::State& state) {
    DiskRecord disk = makeCandidate(L"", DriverKind::VrocNonRaid);
    disk.vrocDiskId = 257;
    updateOn(state, vrocMachine(static_cast<int>(state.range(0))), disk,
             [](Io& io, const DiskRecord& target, const UpdateImage& image) {
                 return vrocUpdateDisk(io, target, image, 2);
             });
}
BENCHMARK(vrocUpdate)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

void loadTheDefaultMachine(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(sim::loadDefaultMachine());
    }
}
BENCHMARK(loadTheDefaultMachine)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velo

BENCHMARK_MAIN();
