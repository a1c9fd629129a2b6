// The Intel VROC driver's answers during discovery on the SCSI ports: the volume and disk
// counts, the volume information, the member and disk lists, and each listed disk's identify.
// Every port opens; the script answers port after port.
#include <set>

#include "FuzzHarness.h"
#include "stacks/vroc/VrocDisks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    fuzz::ScriptedRun run(input);
    DiskList targets;
    std::int32_t port = -1;
    const int result = vrocDiscover(
        run.io, makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::RstRaid), targets, port);
    VELO_FUZZ_CHECK(result == VROC_DISCOVERED || result == VROC_NO_BUFFER);
    VELO_FUZZ_CHECK(port >= -1 && port <= 15);
    VELO_FUZZ_CHECK(targets.empty() || port >= 0);
    // A disk listed twice is one target.
    std::set<std::uint32_t> ids;
    for (const DiskRecord& disk : targets) {
        VELO_FUZZ_CHECK(disk.driverKind == DriverKind::VrocRaidMember ||
                        disk.driverKind == DriverKind::VrocNonRaid);
        VELO_FUZZ_CHECK(ids.insert(disk.vrocDiskId).second);
    }
    return 0;
}
