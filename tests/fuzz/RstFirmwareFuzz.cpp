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
    std::optional<UpdateFailure> failure;
    const int result = rstUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"}, &failure);
    VELO_FUZZ_CHECK(result == RST_UPDATED || result == RST_FAILED || result == RST_REBOOT_REQUIRED);
    // Every piece of the image, then activation; nothing activated after a failed download.
    const std::size_t chunk = chunkLength(disk.updateGranularity);
    const std::size_t pieces = (fuzz::smallImage().size() + chunk - 1) / chunk;
    VELO_FUZZ_CHECK(run.platform.requests <= pieces + 1);
    if (result != RST_FAILED)
        VELO_FUZZ_CHECK(run.platform.requests == pieces + 1);
    // A failed update says which step failed, and a failed piece is one of the image's.
    const bool updated = result == RST_UPDATED || result == RST_REBOOT_REQUIRED;
    VELO_FUZZ_CHECK(failure.has_value() == !updated);
    if (failure && failure->step == FailedStep::Download)
        VELO_FUZZ_CHECK(failure->chunk >= 1 && failure->chunk <= pieces &&
                        failure->chunks == pieces);
    if (failure)
        VELO_FUZZ_CHECK(!describeFailure(*failure).empty());
    return 0;
}
