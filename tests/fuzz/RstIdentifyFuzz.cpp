// The Intel RST driver's answer to the "IntelNvm" Identify Controller pass-through.
#include "FuzzHarness.h"
#include "stacks/rst/RstDisks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    fuzz::ScriptedRun run(input);
    DiskList targets;
    const int result = rstIdentify(
        run.io, makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::RstPassThrough, 3), targets);
    VELO_FUZZ_CHECK(result == RST_IDENTIFIED || result == RST_IDENTIFY_FAILED);
    VELO_FUZZ_CHECK(targets.size() == (result == RST_IDENTIFIED ? 1u : 0u));
    if (result == RST_IDENTIFIED) {
        // The RST fields keep every byte of their width.
        VELO_FUZZ_CHECK(targets[0].firmwareRevision.size() == 8);
        VELO_FUZZ_CHECK(targets[0].serialNumber.size() == 20);
        VELO_FUZZ_CHECK(targets[0].modelNumber.size() == 40);
        VELO_FUZZ_CHECK(targets[0].targetAddress == 3);
    }
    return 0;
}
