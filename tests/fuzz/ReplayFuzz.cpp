// A recording that /replay plays back: the input is its text, one trace line per call. One that
// reads is replayed by a whole run and by a /list run; each must end in a run that matches it or
// in a departure that says where it differs.
#include "FuzzHarness.h"
#include "app/ImageCatalogue.h"
#include "app/List.h"
#include "app/Run.h"
#include "trace/ReplayPlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool list : {false, true}) {
        std::size_t echoed = 0;
        auto count = [&echoed](std::string_view bytes) { echoed += bytes.size(); };
        std::string error;
        auto replay = ReplayPlatform::fromText(text, "fuzz.jsonl", error, ReplayEcho{count, count});
        VELO_FUZZ_CHECK((replay == nullptr) == !error.empty());
        if (!replay)
            return 0;
        RunOptions options;
        options.listOnly = list;
        bool departed = false;
        try {
            list ? listTargets(*replay, options) : runVelo(*replay, options);
        } catch (const PlaybackDeparture&) {
            departed = true;
        }
        unloadFirmwareImage();
        const auto departure = replay->finish();
        VELO_FUZZ_CHECK(!departed || departure.has_value());
    }
    return 0;
}
