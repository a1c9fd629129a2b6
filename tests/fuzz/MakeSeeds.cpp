// Makes the fuzz targets' seeds from clean runs: every example machine is run whole, each driver
// answer is kept as the script answer that reproduces it (the bytes the driver changed, the
// call's outcome), and each target gets the stretches of answers that its function receives.
//   velo_fuzz_seeds OUT_DIR     writes OUT_DIR/<target>/<hash of the seed>
#include <cstdio>
#include <map>
#include <set>

#include "FuzzHarness.h"
#include "app/ImageCatalogue.h"
#include "app/List.h"
#include "app/Run.h"
#include "trace/TracingPlatform.h"
#include "platform/Text.h"
#include "stacks/rst/CsmiLayout.h"
#include "core/FirmwareChunks.h"
#include "stacks/inbox/MiniportLayout.h"
#include "stacks/vroc/NvmePassThroughLayout.h"
#include "stacks/rst/RstLayout.h"
#include "wire/SrbIoControl.h"
#include "stacks/vroc/VrocLayout.h"

namespace velo::fuzz {
namespace {

// One control request of a clean run and the answer that reproduces it.
struct Event {
    std::size_t file = 0;  // which open of a device
    std::uint32_t code = 0;
    std::string signature;       // of a miniport request
    std::uint32_t srbCode = 0;   // the SRB_IO_CONTROL control code
    std::uint32_t function = 0;  // firmware request function, or the pass-through's NVMe opcode
    std::uint32_t inputLength = 0;
    bool download = false;  // carries a piece of the image
    Answer answer;
};

class Recorder : public Platform {
public:
    explicit Recorder(Platform& machine) : machine_(machine) {}
    std::vector<Event> events;

    StartupStatus startUp() override { return machine_.startUp(); }
    RunLockResult takeRunLock() override { return runLockTaken(); }
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid& interfaceClass,
                                                 std::uint32_t flags) override {
        return machine_.deviceInfoSet(interfaceClass, flags);
    }
    OpenResult openDevice(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t flags) override {
        OpenResult opened = machine_.openDevice(path, access, share, flags);
        if (opened.file)
            opened.file = std::make_unique<File>(std::move(opened.file), *this, ++opens_);
        return opened;
    }
    void showMessage(const std::wstring&, const std::wstring&) override {}
    std::optional<LocalTime> localTime() override { return machine_.localTime(); }
    std::optional<UniversalTime> universalTime() override { return machine_.universalTime(); }
    std::string computerName() override { return machine_.computerName(); }
    void writeOutput(std::string_view) override {}
    void writeErrorOutput(std::string_view) override {}
    FileWriteResult writeTextFile(const std::wstring&, std::string_view) override {
        return {false, "not on this platform"};
    }
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override {
        return systemSha256(bytes);
    }

private:
    class File : public DeviceFile {
    public:
        File(std::unique_ptr<DeviceFile> inner, Recorder& owner, std::size_t id)
            : inner_(std::move(inner)), owner_(owner), id_(id) {}
        ControlResult control(std::uint32_t code, std::span<std::uint8_t> buffer,
                              std::uint32_t inputLength, std::uint32_t outputLength) override {
            Event event = describe(code, buffer, inputLength);
            const std::vector<std::uint8_t> sent(buffer.begin(), buffer.end());
            const ControlResult result = inner_->control(code, buffer, inputLength, outputLength);

            // The patch runs from the first to the last byte the driver changed.
            const std::size_t limit = std::min<std::size_t>(outputLength, buffer.size());
            std::size_t first = 0;
            while (first < limit && buffer[first] == sent[first])
                ++first;
            std::size_t end = limit;
            while (end > first && buffer[end - 1] == sent[end - 1])
                --end;
            event.answer.flags = result.ok ? ANSWER_RETURNED_GIVEN : ANSWER_FAILS;
            event.answer.value = result.ok ? result.bytesReturned : result.error;
            if (end > first) {
                event.answer.offset = static_cast<std::uint16_t>(first);
                event.answer.patch.assign(buffer.begin() + static_cast<std::ptrdiff_t>(first),
                                          buffer.begin() + static_cast<std::ptrdiff_t>(end));
            }
            owner_.events.push_back(std::move(event));
            return result;
        }

    private:
        Event describe(std::uint32_t code, std::span<std::uint8_t> buffer,
                       std::uint32_t inputLength) const {
            Event event;
            event.file = id_;
            event.code = code;
            event.inputLength = inputLength;
            event.download = isDownloadRequest(code, buffer);
            if (code != srb::IOCTL_SCSI_MINIPORT)
                return event;
            const ByteView request(buffer);
            event.signature = std::string(request.text(srb::SIGNATURE, srb::SIGNATURE_SIZE));
            event.srbCode = request.u32(srb::CONTROL_CODE);
            if (event.signature == miniport::SIGNATURE)
                event.function = request.u32(miniport::BLOCK + storagefw::BLOCK_FUNCTION);
            else if (event.signature == rst::FIRMWARE_SIGNATURE)
                event.function = request.u32(rst::FIRMWARE_BLOCK + storagefw::BLOCK_FUNCTION);
            else if (event.signature == nvmept::SIGNATURE)
                event.function = request.u8(nvmept::NVME_CMD);
            return event;
        }

        std::unique_ptr<DeviceFile> inner_;
        Recorder& owner_;
        std::size_t id_;
    };

    Platform& machine_;
    std::size_t opens_ = 0;
};

class SeedWriter {
public:
    explicit SeedWriter(std::filesystem::path root) : root_(std::move(root)) {}

    void write(const std::string& target, const std::string& seed) {
        // FNV-1a names the seed, so that equal stretches of two runs give one file.
        std::uint64_t hash = 14695981039346656037ull;
        for (char c : seed)
            hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
        char name[17];
        std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
        const auto folder = root_ / target;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / name, std::ios::binary) << seed;
        written_[target].insert(name);
    }
    void summary() const {
        for (const auto& [target, names] : written_)
            std::printf("  %-18s %zu seeds\n", target.c_str(), names.size());
    }

private:
    std::filesystem::path root_;
    std::map<std::string, std::set<std::string>> written_;
};

std::string encoded(const Answer& answer) {
    std::string out;
    writeAnswer(out, answer);
    return out;
}

// A firmware transport's seed: the disk's granularity (from the length of its first download),
// the answer before the downloads if any (get-info), the answers to as many downloads as the
// small image takes, and the answer after them (activation or commit) when all were answered.
std::string firmwareSeed(const Event* before, const std::vector<const Event*>& downloads,
                         const Event* after, std::size_t overhead) {
    const std::uint32_t granularity =
        downloads.empty() ? 1
                          : (downloads[0]->inputLength - static_cast<std::uint32_t>(overhead)) /
                                FIRMWARE_CHUNK_UNIT;
    const std::size_t chunk = chunkLength(static_cast<std::int32_t>(granularity));
    const std::size_t pieces = (smallImage().size() + chunk - 1) / chunk;
    std::string seed(1, static_cast<char>(granularity));
    if (before)
        seed += encoded(before->answer);
    for (std::size_t k = 0; k < std::min(pieces, downloads.size()); ++k)
        seed += encoded(downloads[k]->answer);
    if (after && downloads.size() >= pieces)
        seed += encoded(after->answer);
    return seed;
}

bool isVrocDiscovery(const Event& event) {
    return event.signature == nvmept::SIGNATURE &&
           (event.srbCode != vroc::NVMERAID_PASS_THROUGH || event.function == nvme::ADMIN_IDENTIFY);
}

// Each target's stretches of one run.
void writeSeeds(const std::vector<Event>& events, SeedWriter& seeds) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event& event = events[i];
        const Event* previous = i > 0 ? &events[i - 1] : nullptr;
        if (event.code == srb::IOCTL_STORAGE_QUERY_PROPERTY)
            seeds.write("inbox_identify", encoded(event.answer));
        if (event.signature == rst::NVME_SIGNATURE)
            seeds.write("rst_identify", encoded(event.answer));
        if (event.signature == nvmept::SIGNATURE && event.srbCode == vroc::NVMERAID_PASS_THROUGH &&
            event.function == nvme::ADMIN_IDENTIFY) {
            seeds.write("vroc_identify", encoded(event.answer));
        }

        // Get-info, the downloads of the small image, activation: all on one open disk.
        if (event.signature == miniport::SIGNATURE &&
            event.function == storagefw::FUNCTION_GET_INFO) {
            std::vector<const Event*> downloads;
            const Event* activate = nullptr;
            for (std::size_t k = i + 1; k < events.size() && events[k].file == event.file; ++k) {
                if (events[k].download)
                    downloads.push_back(&events[k]);
                else if (events[k].function == storagefw::FUNCTION_ACTIVATE)
                    activate = &events[k];
            }
            seeds.write("inbox_get_info",
                        firmwareSeed(&event, downloads, activate, miniport::REQUEST_OVERHEAD));
        }

        // The RST and VROC updates: downloads, then activation or commit, on one open port.
        const bool rstUpdate = event.signature == rst::FIRMWARE_SIGNATURE;
        const bool vrocUpdate = event.signature == nvmept::SIGNATURE && event.download;
        if ((rstUpdate || vrocUpdate) && !(previous && previous->file == event.file)) {
            std::vector<const Event*> downloads;
            const Event* last = nullptr;
            for (std::size_t k = i; k < events.size() && events[k].file == event.file; ++k) {
                if (events[k].download)
                    downloads.push_back(&events[k]);
                else
                    last = &events[k];
            }
            if (rstUpdate) {
                seeds.write("rst_firmware",
                            firmwareSeed(nullptr, downloads, last, rst::DOWNLOAD_OVERHEAD));
            } else {
                seeds.write("vroc_firmware",
                            firmwareSeed(nullptr, downloads, last, vroc::DOWNLOAD_OVERHEAD));
            }
        }

        // GET RAID CONFIG (asked once or twice on one open port), then the members' identify.
        if (event.signature == csmi::SIGNATURE &&
            !(previous && previous->signature == event.signature && previous->file == event.file)) {
            std::string seed = encoded(event.answer);
            for (std::size_t k = i + 1; k < events.size(); ++k) {
                const bool again =
                    events[k].signature == event.signature && events[k].file == event.file;
                if (!again && events[k].signature != rst::NVME_SIGNATURE)
                    break;
                seed += encoded(events[k].answer);
            }
            seeds.write("csmi_raid_config", seed);
        }

        // VROC discovery: counts, lists and identify answers up to the first download.
        if (isVrocDiscovery(event) && !(previous && isVrocDiscovery(*previous))) {
            std::string seed;
            for (std::size_t k = i; k < events.size() && isVrocDiscovery(events[k]); ++k)
                seed += encoded(events[k].answer);
            seeds.write("vroc_lists", seed);
        }
    }
}

// The trace that /trace writes of a clean run (or /list run) of a machine.
std::string traceOf(const ExampleMachine& example, bool list) {
    std::string error;
    sim::SimPlatform simulated(sim::loadMachineText(example.text, example.name, error));
    simulated.setClock(LocalTime{2026, 12, 8, 10, 0, 0});
    std::string text;
    {
        TracingPlatform tracing(simulated, [&text](std::string_view line) {
            text.append(line);
            text += '\n';
        });
        RunOptions options;
        options.silent = true;
        options.listOnly = list;
        list ? listTargets(tracing, options) : runVelo(tracing, options);
    }
    unloadFirmwareImage();
    return text;
}

// A recorded update sends the whole image, hex-written; only the short ones make seeds.
constexpr std::size_t REPLAY_SEED_LIMIT = 64 * 1024;

}  // namespace
}  // namespace velo::fuzz

int main(int argc, char** argv) {
    using namespace velo;
    if (argc != 2) {
        std::fprintf(stderr, "usage: velo_fuzz_seeds OUT_DIR\n");
        return 2;
    }
    fuzz::SeedWriter seeds(argv[1]);
    const auto examples = fuzz::exampleMachines();
    for (std::size_t index = 0; index < examples.size(); ++index) {
        const fuzz::ExampleMachine& example = examples[index];
        std::string error;
        auto machine = sim::loadMachineText(example.text, example.name, error);
        if (!machine) {
            std::fprintf(stderr, "velo_fuzz_seeds: %s\n", error.c_str());
            return 1;
        }
        for (const sim::Device& device : machine->devices) {
            if (!device.locationInfo.empty())
                seeds.write("location_text", toUtf8(device.locationInfo));
        }
        sim::SimPlatform simulated(std::move(machine));
        fuzz::Recorder recorder(simulated);
        RunOptions options;
        options.silent = true;
        runVelo(recorder, options);
        unloadFirmwareImage();
        fuzz::writeSeeds(recorder.events, seeds);

        // The replay target: recordings of a /list run, and of the whole run when it is short.
        for (const bool list : {true, false}) {
            const std::string recording = fuzz::traceOf(example, list);
            if (recording.size() <= fuzz::REPLAY_SEED_LIMIT)
                seeds.write("replay", recording);
        }

        // The whole-run target: this example with its message box, untraced (a trace costs more
        // than the run; the fuzzer turns it on by itself), the drivers answering the downloads,
        // and the run's other answers to mutate.
        std::string run{static_cast<char>(index), '\0'};
        for (const fuzz::Event& event : recorder.events) {
            if (!event.download)
                run += fuzz::encoded(event.answer);
        }
        seeds.write("whole_run", run);
    }

    using namespace std::string_literals;
    for (const std::string& line :
         {""s, "/s"s, "/?"s, "/S\0/log\0C:\\logs\\run.log"s, "/machine\0examples/default.json\0/s"s,
          "/trace\0t.jsonl\0/LOG\0r.log\0/s"s, "/x"s, "/log\0/s"s, "Bus Number 3, Target Id 0"s}) {
        seeds.write("command_line", line);
    }
    for (const std::string& text : {"Bus Number 3, Target Id 0, LUN 0"s, "Bus Number 2147483647,"s,
                                    "Bus Number 2147483648, Target Id 0"s, "Bus Number , x"s}) {
        seeds.write("location_text", text);
    }
    std::printf("velo_fuzz_seeds: %zu example machines\n", examples.size());
    seeds.summary();
    return 0;
}
