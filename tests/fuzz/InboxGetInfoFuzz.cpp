// The inbox driver's answers to the miniport firmware requests: the get-info reply (data
// offset, slot count, slot entries), then the download and activation statuses. The first
// input byte is the disk's update granularity.
#include "FuzzHarness.h"
#include "transport/InboxTransport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    DiskRecord disk = makeCandidate(L"\\\\.\\PHYSICALDRIVE0", DriverKind::Inbox);
    disk.updateGranularity = input.u8();
    fuzz::ScriptedRun run(input);
    const int result = inboxUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"});
    VELO_FUZZ_CHECK(result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED ||
                    result == INBOX_NOT_ACCEPTED || result == INBOX_REQUEST_FAILED);
    // Get-info, every piece of the image, activation: never more.
    const std::size_t chunk = chunkLength(disk.updateGranularity);
    const std::size_t pieces = (fuzz::smallImage().size() + chunk - 1) / chunk;
    VELO_FUZZ_CHECK(run.platform.requests <= pieces + 2);
    if (result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED)
        VELO_FUZZ_CHECK(run.platform.requests == pieces + 2);
    return 0;
}
