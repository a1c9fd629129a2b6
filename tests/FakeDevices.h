// A platform whose devices are scripted by the test: each open path answers control requests
// through a function, and every request is kept as it was sent.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/SystemSha256.h"

namespace velo::test {

struct SentRequest {
    std::wstring path;
    std::uint32_t controlCode = 0;
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    std::vector<std::uint8_t> bytes;  // the whole buffer as sent
};

using Answer = std::function<ControlResult(std::uint32_t code, std::span<std::uint8_t> buffer)>;

class FakePlatform : public Platform {
public:
    struct Device {
        std::uint32_t openError = 0;  // non-zero: opening fails with it
        Answer answer;
    };
    std::map<std::wstring, Device> devices;
    std::vector<SentRequest> sent;
    std::vector<std::wstring> opened;
    std::string output;
    std::string errorOutput;

    StartupStatus startUp() override { return StartupStatus::Ok; }
    RunLockResult takeRunLock() override { return runLockTaken(); }
    std::unique_ptr<DeviceInfoSet> deviceInfoSet(const Guid&, std::uint32_t) override {
        return nullptr;
    }
    OpenResult openDevice(const std::wstring& path, std::uint32_t, std::uint32_t,
                          std::uint32_t) override {
        opened.push_back(path);
        auto found = devices.find(path);
        if (found == devices.end())
            return {nullptr, 2};
        if (found->second.openError != 0)
            return {nullptr, found->second.openError};
        return {std::make_unique<File>(*this, path, found->second.answer), 0};
    }
    void showMessage(const std::wstring&, const std::wstring&) override {}
    std::optional<LocalTime> localTime() override { return LocalTime{2026, 12, 8, 10, 0, 0}; }
    std::optional<UniversalTime> universalTime() override {
        return UniversalTime{2026, 12, 8, 9, 0, 0};
    }
    std::string computerName() override { return "TEST-PC"; }
    void writeOutput(std::string_view bytes) override { output.append(bytes); }
    void writeErrorOutput(std::string_view bytes) override { errorOutput.append(bytes); }
    FileWriteResult writeTextFile(const std::wstring&, std::string_view) override {
        return {false, "not on this platform"};
    }
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) override {
        return systemSha256(bytes);
    }

private:
    class File : public DeviceFile {
    public:
        File(FakePlatform& owner, std::wstring path, Answer answer)
            : owner_(owner), path_(std::move(path)), answer_(std::move(answer)) {}
        ControlResult control(std::uint32_t code, std::span<std::uint8_t> buffer,
                              std::uint32_t inputLength, std::uint32_t outputLength) override {
            owner_.sent.push_back(
                {path_, code, inputLength, outputLength, {buffer.begin(), buffer.end()}});
            if (!answer_)
                return {false, 0, 1};
            return answer_(code, buffer);
        }

    private:
        FakePlatform& owner_;
        std::wstring path_;
        Answer answer_;
    };
};

inline void putLe(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value,
                  std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A 2 MiB image whose every chunk differs, as a transport sends it.
inline std::vector<std::uint8_t> patternedImage() {
    std::vector<std::uint8_t> image(0x200000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 12));
    return image;
}

// What a transport printed after its target banner: the lines of its steps.
inline std::string afterBanner(const std::string& output) {
    const std::string rule = "---------------------------------------------\n";
    const auto end = output.rfind(rule);
    return end == std::string::npos ? output : output.substr(end + rule.size());
}

}  // namespace velo::test
