#include "platform/sim/SimPlatform.h"

#include <ctime>

#include <nlohmann/json.hpp>

#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/sim/Machine.h"

namespace velo::sim {

namespace {

constexpr std::string_view DEFAULT_MACHINE = R"({ "format": "velo-machine", "version": 1 })";

}  // namespace

std::unique_ptr<Machine> loadMachineText(std::string_view json, const std::string& sourceName,
                                         std::string& error) {
    auto document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        error = sourceName + ": not a JSON object";
        return nullptr;
    }
    return std::make_unique<Machine>();
}

std::unique_ptr<Machine> loadMachineFile(const std::wstring& path, std::string& error) {
    std::string text;
    if (!readFileFromDisk(path, text)) {
        error = toUtf8(path) + ": cannot be read";
        return nullptr;
    }
    return loadMachineText(text, toUtf8(path), error);
}

std::unique_ptr<Machine> loadDefaultMachine() {
    std::string error;
    return loadMachineText(DEFAULT_MACHINE, "default machine", error);
}

SimPlatform::SimPlatform(std::unique_ptr<Machine> machine, Echo echo)
    : machine_(std::move(machine)), echo_(std::move(echo)) {}

SimPlatform::~SimPlatform() = default;

StartupStatus SimPlatform::startUp() { return machine_->startup; }

std::unique_ptr<DeviceInfoSet> SimPlatform::deviceInfoSet(const Guid&, std::uint32_t) {
    return nullptr;
}

OpenResult SimPlatform::openDevice(const std::wstring&, std::uint32_t, std::uint32_t,
                                   std::uint32_t) {
    return {nullptr, SYSTEM_ERROR_FILE_NOT_FOUND};
}

void SimPlatform::showMessage(const std::wstring& caption, const std::wstring& text) {
    messages_.push_back({caption, text});
    if (echo_.err) {
        echo_.err("[message box] " + toUtf8(caption) + "\n" + toUtf8(text) + "\n");
    }
}

void SimPlatform::setClock(std::optional<LocalTime> time, bool readable) {
    fixedTime_ = time;
    clockReadable_ = readable;
}

std::optional<LocalTime> SimPlatform::localTime() {
    if (!clockReadable_) return std::nullopt;
    if (fixedTime_) return fixedTime_;
    std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    if (localtime_s(&parts, &now) != 0) return std::nullopt;
#else
    if (localtime_r(&now, &parts) == nullptr) return std::nullopt;
#endif
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

void SimPlatform::writeOutput(std::string_view bytes) {
    output_.append(bytes);
    if (echo_.out) echo_.out(bytes);
}

bool SimPlatform::writeTextFile(const std::wstring& path, std::string_view text) {
    return writeTextFileToDisk(path, text);
}

}  // namespace velo::sim
