// Whole runs (scan pass, update pass, report) on the example machines, each driver answer
// changed or replaced as the script says. Input: the example's number, the run's options
// (bit 0: traced, bit 1: silent, bit 2: the script also answers the download requests), then
// the script.
#include "FuzzHarness.h"
#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "platform/TracingPlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    static const std::vector<fuzz::ExampleMachine> examples = fuzz::exampleMachines();
    VELO_FUZZ_CHECK(!examples.empty());
    fuzz::Input input(data, size);
    const fuzz::ExampleMachine& example = examples[input.u8() % examples.size()];
    const std::uint8_t options = input.u8();

    std::string error;
    auto machine = sim::loadMachineText(example.text, example.name, error);
    VELO_FUZZ_CHECK(machine != nullptr);
    sim::SimPlatform simulated(std::move(machine));
    simulated.setClock(LocalTime{2026, 12, 8, 10, 0, 0});
    fuzz::FuzzedMachine platform(simulated, input, (options & 4) != 0);
    RunOptions run;
    run.silent = (options & 2) != 0;
    if ((options & 1) != 0) {
        std::size_t traced = 0;
        TracingPlatform tracing(platform,
                                [&traced](std::string_view line) { traced += line.size(); });
        runVelo(tracing, run);
    } else {
        runVelo(platform, run);
    }
    unloadFirmwareImage();

    // Whatever the drivers answered, the run ends with one of the three return codes.
    const std::string& output = simulated.output();
    const bool ended = output.ends_with(" >> VELO Ended (Return Code : 0)\n\n") ||
                       output.ends_with(" >> VELO Ended (Return Code : 1)\n\n") ||
                       output.ends_with(" >> VELO Ended (Return Code : 1602)\n\n");
    VELO_FUZZ_CHECK(ended);
    VELO_FUZZ_CHECK(simulated.messages().size() == (run.silent ? 0u : 1u));
    // Without a log there is nothing to say on standard error.
    VELO_FUZZ_CHECK(simulated.errorOutput().empty());
    return 0;
}
