// The location text of a disk behind an Intel controller ("Bus Number 3, Target Id 0, LUN 0"),
// read from the device set as discovery reads it. The input is the text in UTF-8.
#include "FuzzHarness.h"
#include "stacks/rst/IntelController.h"
#include "platform/Text.h"

namespace {

// One present device whose location text is the input.
class OneDevice : public velo::DeviceInfoSet {
public:
    explicit OneDevice(std::wstring location) : location_(std::move(location)) {}
    std::optional<std::uint32_t> deviceAt(std::uint32_t index) override {
        return index == 0 ? std::optional<std::uint32_t>(DEV_INST) : std::nullopt;
    }
    std::optional<std::wstring> textProperty(std::uint32_t index,
                                             const velo::PropertyKey& key) override {
        if (index == 0 && key == velo::PROPERTY_LOCATION_INFO)
            return location_;
        return std::nullopt;
    }
    std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t) override {
        return std::nullopt;
    }
    velo::InterfaceLookup interfaceAt(const velo::Guid&, std::uint32_t,
                                      velo::DeviceInterface&) override {
        return velo::InterfaceLookup::Absent;
    }

    static constexpr std::uint32_t DEV_INST = 5;

private:
    std::wstring location_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    const std::wstring location = fromUtf8(input.rest());
    fuzz::Input noScript(nullptr, 0);
    fuzz::ScriptedRun run(noScript);
    run.platform.sets = [&location](const Guid&, std::uint32_t) {
        return std::make_unique<OneDevice>(location);
    };
    const int bus = readDiskBusNumber(run.io, OneDevice::DEV_INST);
    VELO_FUZZ_CHECK(bus >= -1);
    if (location.find(L"Bus Number ") == std::wstring::npos)
        VELO_FUZZ_CHECK(bus == -1);
    VELO_FUZZ_CHECK(parseBusNumber(location) >= -1);
    return 0;
}
