// The Intel VROC driver's answers to the NVMe pass-through Firmware Image Download and Firmware
// Commit: driver statuses and completion entries. The first input byte is the disk's update
// granularity.
#include "FuzzHarness.h"
#include "stacks/vroc/VrocDisks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    DiskRecord disk = makeCandidate(L"\\\\?\\scsi#rst#port", DriverKind::VrocNonRaid, 0);
    disk.vrocDiskId = 7;
    disk.updateGranularity = input.u8();
    fuzz::ScriptedRun run(input);
    const auto [result, failure] =
        vrocUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"}, 2);
    // A commit that the drive took runs at the next reset: never a plain success.
    VELO_FUZZ_CHECK(result == VROC_FAILED || result == VROC_COMPLETION_FAILED ||
                    result == VROC_REBOOT_REQUIRED);
    const bool updated = result == VROC_REBOOT_REQUIRED;
    fuzz::checkUpdateShape(disk.updateGranularity, run.platform.requests, 1, updated, updated,
                           failure);
    return 0;
}
