// What the fuzz targets share: the fuzzer's bytes read as a script of driver answers, a machine
// whose every device answers from that script, and a wrapper that lets a simulated machine
// answer first and the script change what came back. The product's own discovery and transport
// functions run on these platforms unchanged.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Console.h"
#include "platform/Io.h"
#include "platform/Platform.h"
#include "platform/SystemSha256.h"
#include "core/UpdateFailure.h"
#include "core/FirmwareChunks.h"
#include "sim/Machine.h"
#include "sim/SimPlatform.h"
#include "stacks/inbox/MiniportLayout.h"
#include "stacks/vroc/NvmePassThroughLayout.h"
#include "stacks/rst/RstLayout.h"
#include "stacks/vroc/VrocLayout.h"

// A property of the code under test that must hold for every input; a miss is a finding.
#define VELO_FUZZ_CHECK(condition)                                                             \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace velo::fuzz {

// The fuzzer's bytes, read front to back; past the end every number reads as zero.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    std::size_t size() const { return rest_.size(); }
    bool empty() const { return rest_.empty(); }

    std::uint8_t u8() { return static_cast<std::uint8_t>(number(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(number(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(number(4)); }
    // Up to count bytes.
    std::span<const std::uint8_t> take(std::size_t count) {
        auto part = rest_.first(std::min(count, rest_.size()));
        rest_ = rest_.subspan(part.size());
        return part;
    }
    std::string_view rest() {
        auto part = take(rest_.size());
        return {reinterpret_cast<const char*>(part.data()), part.size()};
    }

private:
    std::uint64_t number(std::size_t width) {
        std::uint64_t value = 0;
        auto part = take(width);
        for (std::size_t i = 0; i < part.size(); ++i)
            value |= std::uint64_t{part[i]} << (8 * i);
        return value;
    }

    std::span<const std::uint8_t> rest_;
};

// One driver answer to one control request, as the script holds it (little-endian):
//   u8  flags   ANSWER_FAILS, ANSWER_RETURNED_GIVEN, ANSWER_DRIVER_SKIPPED
//   u32 value   the system error of a failed call, else bytesReturned when given
//   u16 offset  where the patch starts in the request's buffer
//   u16 length  then the patch's bytes, written up to the request's output length
inline constexpr std::uint8_t ANSWER_FAILS = 0x1;
inline constexpr std::uint8_t ANSWER_RETURNED_GIVEN = 0x2;
inline constexpr std::uint8_t ANSWER_DRIVER_SKIPPED = 0x4;  // a simulated driver is not asked
inline constexpr std::size_t ANSWER_HEADER_SIZE = 9;
// Without a script, a call fails as an unknown request does (ERROR_INVALID_FUNCTION).
inline constexpr std::uint32_t UNANSWERED_ERROR = 1;

struct Answer {
    std::uint8_t flags = 0;
    std::uint32_t value = 0;
    std::uint16_t offset = 0;
    std::vector<std::uint8_t> patch;
};

// The next answer; nothing once the script is used up.
inline std::optional<Answer> readAnswer(Input& input) {
    if (input.size() < ANSWER_HEADER_SIZE)
        return std::nullopt;
    Answer answer;
    answer.flags = input.u8();
    answer.value = input.u32();
    answer.offset = input.u16();
    const auto patch = input.take(input.u16());
    answer.patch.assign(patch.begin(), patch.end());
    return answer;
}

inline void writeAnswer(std::string& out, const Answer& answer) {
    auto put = [&out](std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(answer.flags, 1);
    put(answer.value, 4);
    put(answer.offset, 2);
    put(answer.patch.size(), 2);
    out.append(answer.patch.begin(), answer.patch.end());
}

// What the caller sees once the answer is applied over what the driver answered (`driver`; with
// no driver, a success that returned the whole output).
inline ControlResult applyAnswer(const Answer& answer, std::span<std::uint8_t> buffer,
                                 std::uint32_t outputLength, ControlResult driver) {
    const std::size_t limit = std::min<std::size_t>(outputLength, buffer.size());
    if (answer.offset < limit && !answer.patch.empty()) {
        const std::size_t count = std::min(answer.patch.size(), limit - answer.offset);
        std::memcpy(buffer.data() + answer.offset, answer.patch.data(), count);
    }
    if ((answer.flags & ANSWER_FAILS) != 0)
        return {false, 0, answer.value};
    ControlResult result{true, driver.ok ? driver.bytesReturned : static_cast<std::uint32_t>(limit),
                         0};
    if ((answer.flags & ANSWER_RETURNED_GIVEN) != 0)
        result.bytesReturned = answer.value;
    return result;
}

// A machine on which every path opens and every control request is answered by the script
// (the buffer as sent, then the answer's patch). Device sets come from `sets` when given; a
// target that fixes some answers itself gives `preset`, which is asked first.
class ScriptedPlatform : public Platform {
public:
    using Sets = std::function<std::unique_ptr<DeviceInfoSet>(const Guid&, std::uint32_t)>;
    using Preset = std::function<std::optional<ControlResult>(
        std::uint32_t code, std::span<std::uint8_t> buffer, std::uint32_t outputLength)>;

    explicit ScriptedPlatform(Input& input) : input_(input) {}

    Sets sets;
    Preset preset;
    std::size_t requests = 0;  // control requests received

    StartupStatus startUp() override { return StartupStatus::Ok; }
    RunLockResult takeRunLock() override { return runLockTaken(); }
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid& interfaceClass,
                                                 std::uint32_t flags) override {
        return sets ? sets(interfaceClass, flags) : nullptr;
    }
    OpenResult openDevice(const std::wstring&, std::uint32_t, std::uint32_t,
                          std::uint32_t) override {
        return {std::make_unique<File>(*this), 0};
    }
    void showMessage(const std::wstring&, const std::wstring&) override {}
    std::optional<LocalTime> localTime() override { return LocalTime{2026, 12, 8, 10, 0, 0}; }
    std::optional<UniversalTime> universalTime() override {
        return UniversalTime{2026, 12, 8, 9, 0, 0};
    }
    std::string computerName() override { return "FUZZ"; }
    void writeOutput(std::string_view bytes) override { printed += bytes.size(); }
    void writeErrorOutput(std::string_view bytes) override { printed += bytes.size(); }
    FileWriteResult writeTextFile(const std::wstring&, std::string_view) override {
        return {false, "not on this platform"};
    }
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override {
        return systemSha256(bytes);
    }

    std::size_t printed = 0;

private:
    class File : public DeviceFile {
    public:
        explicit File(ScriptedPlatform& owner) : owner_(owner) {}
        ControlResult control(std::uint32_t code, std::span<std::uint8_t> buffer, std::uint32_t,
                              std::uint32_t outputLength) override {
            ++owner_.requests;
            if (owner_.preset) {
                if (auto fixed = owner_.preset(code, buffer, outputLength))
                    return *fixed;
            }
            const auto answer = readAnswer(owner_.input_);
            if (!answer)
                return {false, 0, UNANSWERED_ERROR};
            return applyAnswer(*answer, buffer, outputLength, {true, outputLength, 0});
        }

    private:
        ScriptedPlatform& owner_;
    };

    Input& input_;
};

// A scripted machine with the console the product prints on.
struct ScriptedRun {
    explicit ScriptedRun(Input& input)
        : platform(input), console(platform), io{platform, console} {}
    ScriptedPlatform platform;
    Console console;
    Io io;
};

// True for a request that carries a piece of the image, on any of the three stacks.
inline bool isDownloadRequest(std::uint32_t code, std::span<std::uint8_t> buffer) {
    if (code != srb::IOCTL_SCSI_MINIPORT)
        return false;
    const ByteView request(buffer);
    const std::string_view signature = request.text(srb::SIGNATURE, srb::SIGNATURE_SIZE);
    if (signature == miniport::SIGNATURE)
        return request.u32(miniport::BLOCK + storagefw::BLOCK_FUNCTION) ==
               storagefw::FUNCTION_DOWNLOAD;
    if (signature == rst::FIRMWARE_SIGNATURE) {
        return request.u32(rst::FIRMWARE_BLOCK + storagefw::BLOCK_FUNCTION) ==
               storagefw::FUNCTION_DOWNLOAD;
    }
    return signature == nvmept::SIGNATURE &&
           request.u32(srb::CONTROL_CODE) == vroc::NVMERAID_PASS_THROUGH &&
           request.u8(nvmept::NVME_CMD) == nvme::ADMIN_FIRMWARE_IMAGE_DOWNLOAD;
}

// A simulated machine whose drivers answer first; each answer of the script then changes what
// came back, or (ANSWER_DRIVER_SKIPPED) stands in for the driver. Once the script is used up
// the drivers' own answers stand. Without scriptedDownloads the drivers alone answer the
// hundreds of download requests of a run, so that the script reaches the activations after
// them.
class FuzzedMachine : public Platform {
public:
    FuzzedMachine(Platform& machine, Input& input, bool scriptedDownloads)
        : machine_(machine), input_(input), scriptedDownloads_(scriptedDownloads) {}

    StartupStatus startUp() override { return machine_.startUp(); }
    RunLockResult takeRunLock() override { return runLockTaken(); }
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid& interfaceClass,
                                                 std::uint32_t flags) override {
        return machine_.deviceInfoSet(interfaceClass, flags);
    }
    OpenResult openDevice(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t flags) override {
        OpenResult opened = machine_.openDevice(path, access, share, flags);
        if (opened.file) {
            opened.file =
                std::make_unique<File>(std::move(opened.file), input_, scriptedDownloads_);
        }
        return opened;
    }
    void showMessage(const std::wstring& caption, const std::wstring& text) override {
        machine_.showMessage(caption, text);
    }
    std::optional<LocalTime> localTime() override { return machine_.localTime(); }
    std::optional<UniversalTime> universalTime() override { return machine_.universalTime(); }
    std::string computerName() override { return machine_.computerName(); }
    void writeOutput(std::string_view bytes) override { machine_.writeOutput(bytes); }
    void writeErrorOutput(std::string_view bytes) override { machine_.writeErrorOutput(bytes); }
    // Files are kept here, not written.
    FileWriteResult writeTextFile(const std::wstring& path, std::string_view text) override {
        files[path] = std::string(text);
        return {true, {}};
    }
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override {
        return systemSha256(bytes);
    }

    std::map<std::wstring, std::string> files;

private:
    class File : public DeviceFile {
    public:
        File(std::unique_ptr<DeviceFile> inner, Input& input, bool scriptedDownloads)
            : inner_(std::move(inner)), input_(input), scriptedDownloads_(scriptedDownloads) {}
        ControlResult control(std::uint32_t code, std::span<std::uint8_t> buffer,
                              std::uint32_t inputLength, std::uint32_t outputLength) override {
            if (!scriptedDownloads_ && isDownloadRequest(code, buffer))
                return inner_->control(code, buffer, inputLength, outputLength);
            const auto answer = readAnswer(input_);
            if (!answer)
                return inner_->control(code, buffer, inputLength, outputLength);
            ControlResult driver{false, 0, UNANSWERED_ERROR};
            if ((answer->flags & ANSWER_DRIVER_SKIPPED) == 0)
                driver = inner_->control(code, buffer, inputLength, outputLength);
            return applyAnswer(*answer, buffer, outputLength, driver);
        }

    private:
        std::unique_ptr<DeviceFile> inner_;
        Input& input_;
        bool scriptedDownloads_;
    };

    Platform& machine_;
    Input& input_;
    bool scriptedDownloads_;
};

// A small image, cut into three whole chunks and a short last piece at granularity 1, so that a
// transport's download loop runs through all its cases in few requests.
inline std::span<const std::uint8_t> smallImage() {
    static const std::vector<std::uint8_t> image = [] {
        std::vector<std::uint8_t> bytes(3 * 4096 + 512);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 13 + (i >> 12));
        return bytes;
    }();
    return image;
}

// What a firmware update of the small image shows whatever the driver answered: never more
// requests than one per piece plus `others` (get-info, activation), exactly that many when
// allSent, and a failure exactly when not updated, naming its step, a failed piece one of the
// image's.
inline void checkUpdateShape(std::int32_t granularity, std::size_t requests, std::size_t others,
                             bool allSent, bool updated,
                             const std::optional<UpdateFailure>& failure) {
    const std::size_t chunk = chunkLength(granularity);
    const std::size_t pieces = (smallImage().size() + chunk - 1) / chunk;
    VELO_FUZZ_CHECK(requests <= pieces + others);
    if (allSent)
        VELO_FUZZ_CHECK(requests == pieces + others);
    VELO_FUZZ_CHECK(failure.has_value() == !updated);
    if (failure && failure->step == FailedStep::Download)
        VELO_FUZZ_CHECK(failure->chunk >= 1 && failure->chunk <= pieces &&
                        failure->chunks == pieces);
    if (failure)
        VELO_FUZZ_CHECK(!describeFailure(*failure).empty());
}

// The example machines of the source tree, by file name, as text.
struct ExampleMachine {
    std::string name;
    std::string text;
};

inline std::vector<ExampleMachine> exampleMachines() {
    std::vector<ExampleMachine> machines;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(VELO_SOURCE_DIR) / "examples")) {
        if (entry.path().extension() != ".json")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        machines.push_back(
            {entry.path().stem().string(),
             {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}});
    }
    std::sort(machines.begin(), machines.end(),
              [](const ExampleMachine& a, const ExampleMachine& b) { return a.name < b.name; });
    return machines;
}

}  // namespace velo::fuzz
