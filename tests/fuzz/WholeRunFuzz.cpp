// Whole runs on the example machines, each driver answer changed or replaced as the script
// says. Input: the example's number, the run's options, then the script. Options: bit 0 traced,
// bit 1 silent, bit 2 the script also answers the download requests, bit 3 a /list run instead
// of an update, bit 4 the exit status follows the result, bit 5 a result log, bit 6 a result
// document, bit 7 the run resumes (firmware slot logs read, current drives left alone).
#include <nlohmann/json.hpp>

#include "FuzzHarness.h"
#include "app/ImageCatalogue.h"
#include "app/List.h"
#include "app/Outcomes.h"
#include "app/Run.h"
#include "trace/TracingPlatform.h"

namespace {

bool endsWithOneOf(const std::string& text, std::initializer_list<std::string_view> ends) {
    return std::any_of(ends.begin(), ends.end(),
                       [&text](std::string_view end) { return text.ends_with(end); });
}

}  // namespace

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
    run.listOnly = (options & 8) != 0;
    run.exitCodeFollowsResult = (options & 16) != 0;
    run.resume = (options & 128) != 0;
    if ((options & 32) != 0)
        run.logFilePath = L"result.log";
    if ((options & 64) != 0 && !run.listOnly)
        run.jsonFilePath = L"result.json";

    auto runOn = [&run](Platform& target) {
        return run.listOnly ? listTargets(target, run) : runVelo(target, run);
    };
    int status = 0;
    if ((options & 1) != 0) {
        std::size_t traced = 0;
        TracingPlatform tracing(platform,
                                [&traced](std::string_view line) { traced += line.size(); });
        status = runOn(tracing);
    } else {
        status = runOn(platform);
    }
    unloadFirmwareImage();

    // Whatever the drivers answered, the run ends with its end line and a status it documents.
    const std::string& output = simulated.output();
    if (run.listOnly) {
        VELO_FUZZ_CHECK(output.ends_with(" to update)\n\n"));
        VELO_FUZZ_CHECK(simulated.messages().empty());
        VELO_FUZZ_CHECK(status == 0 || (run.exitCodeFollowsResult && status == EXIT_FAILED));
    } else {
        VELO_FUZZ_CHECK(endsWithOneOf(
            output, {" >> VELO Ended (Return Code : 0)\n\n", " >> VELO Ended (Return Code : 1)\n\n",
                     " >> VELO Ended (Return Code : 1602)\n\n"}));
        VELO_FUZZ_CHECK(simulated.messages().size() == (run.silent ? 0u : 1u));
        VELO_FUZZ_CHECK(status == 0 || (run.exitCodeFollowsResult &&
                                        (status == EXIT_RESTART_NEEDED || status == EXIT_FAILED ||
                                         status == EXIT_NOTHING_MATCHES)));
    }
    // Every file asked for was written, and nothing went wrong to say on standard error.
    VELO_FUZZ_CHECK(platform.files.size() ==
                    std::size_t{!run.logFilePath.empty()} + std::size_t{!run.jsonFilePath.empty()});
    VELO_FUZZ_CHECK(simulated.errorOutput().empty());
    // The result document is JSON whatever bytes the drives' identities held.
    if (!run.jsonFilePath.empty()) {
        const auto document =
            nlohmann::json::parse(platform.files[run.jsonFilePath], nullptr, false);
        VELO_FUZZ_CHECK(!document.is_discarded() && document.is_object());
    }
    return 0;
}
