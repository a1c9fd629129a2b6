// The Intel RST driver's answers to the "IntelFw " firmware requests: the download statuses and
// the activation status. The first input byte is the disk's update granularity.
#include "FuzzHarness.h"
#include "stacks/rst/RstDisks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    DiskRecord disk = makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::RstRaid, 3);
    disk.updateGranularity = input.u8();
    fuzz::ScriptedRun run(input);
    const auto [result, failure] = rstUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"});
    VELO_FUZZ_CHECK(result == RST_UPDATED || result == RST_FAILED || result == RST_REBOOT_REQUIRED);
    // Every piece of the image, then activation; nothing activated after a failed download.
    fuzz::checkUpdateShape(disk.updateGranularity, run.platform.requests, 1, result != RST_FAILED,
                           result == RST_UPDATED || result == RST_REBOOT_REQUIRED, failure);
    return 0;
}
