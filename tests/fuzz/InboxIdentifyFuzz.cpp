// The inbox driver's answer to the storage protocol query (NVMe Identify Controller).
#include "FuzzHarness.h"
#include "stacks/inbox/InboxIdentify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    fuzz::ScriptedRun run(input);
    DiskList targets;
    const int result = identifyInboxDisk(
        run.io, makeCandidate(L"\\\\.\\PHYSICALDRIVE0", DriverKind::Inbox), targets);
    VELO_FUZZ_CHECK(result == 0 || result == 5);
    VELO_FUZZ_CHECK(targets.size() == (result == 0 ? 1u : 0u));
    if (result == 0) {
        // Each text stops at its field's end and its first zero byte.
        VELO_FUZZ_CHECK(targets[0].firmwareRevision.size() <= 8);
        VELO_FUZZ_CHECK(targets[0].serialNumber.size() <= 20);
        VELO_FUZZ_CHECK(targets[0].modelNumber.size() <= 40);
        VELO_FUZZ_CHECK(targets[0].updateGranularity >= 1 && targets[0].updateGranularity <= 255);
    }
    return 0;
}
