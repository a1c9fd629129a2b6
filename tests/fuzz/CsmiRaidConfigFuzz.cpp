// The Intel RST driver's CSMI GET RAID CONFIG replies (the first, and the larger one asked for
// when the first lists more drives than it holds), then the members' identify answers.
#include "FuzzHarness.h"
#include "stacks/rst/CsmiRaid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    fuzz::ScriptedRun run(input);
    DiskList targets;
    const int result = csmiReadRaidConfig(
        run.io, makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::RstRaid), targets);
    VELO_FUZZ_CHECK(result == CSMI_READ || result == CSMI_FAILED);
    // bDriveCount is one byte: no reply can name more members.
    VELO_FUZZ_CHECK(targets.size() <= 255);
    for (const DiskRecord& member : targets) {
        VELO_FUZZ_CHECK(member.driverKind == DriverKind::RstRaid);
        VELO_FUZZ_CHECK(member.targetAddress >= 0 && member.targetAddress <= 255);
    }
    return 0;
}
