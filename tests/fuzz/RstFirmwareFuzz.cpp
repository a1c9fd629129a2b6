// The Intel RST driver's answers to the "IntelFw " firmware requests: the download statuses and
// the activation status. The first input byte is the disk's update granularity.
#include "FuzzHarness.h"
#include "transport/RstTransport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    DiskRecord disk = makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::RstRaid, 3);
    disk.updateGranularity = input.u8();
    fuzz::ScriptedRun run(input);
    const int result = rstUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"});
    VELO_FUZZ_CHECK(result == RST_UPDATED || result == RST_FAILED || result == RST_REBOOT_REQUIRED);
    // Every piece of the image, then activation; nothing activated after a failed download.
    const std::size_t chunk = chunkLength(disk.updateGranularity);
    const std::size_t pieces = (fuzz::smallImage().size() + chunk - 1) / chunk;
    VELO_FUZZ_CHECK(run.platform.requests <= pieces + 1);
    if (result != RST_FAILED)
        VELO_FUZZ_CHECK(run.platform.requests == pieces + 1);
    return 0;
}
