// The machine file: the input is the file's text. A machine the reader accepts is then run on,
// since its drivers answer from what the file said.
#include "FuzzHarness.h"
#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    std::string error;
    auto machine = sim::loadMachineText(std::string_view(reinterpret_cast<const char*>(data), size),
                                        "fuzz.json", error);
    VELO_FUZZ_CHECK((machine == nullptr) == !error.empty());
    VELO_FUZZ_CHECK(visibleText(error) == error);  // no control character of the file shown
    if (!machine)
        return 0;
    sim::SimPlatform platform(std::move(machine));
    RunOptions options;
    options.silent = true;
    runVelo(platform, options);
    unloadFirmwareImage();
    VELO_FUZZ_CHECK(platform.output().find(" >> VELO Ended (Return Code : ") != std::string::npos);
    return 0;
}
