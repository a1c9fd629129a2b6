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
    std::optional<UpdateFailure> failure;
    const int result = inboxUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"}, &failure);
    VELO_FUZZ_CHECK(result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED ||
                    result == INBOX_NOT_ACCEPTED || result == INBOX_REQUEST_FAILED);
    // Get-info, every piece of the image, activation: never more.
    const std::size_t chunk = chunkLength(disk.updateGranularity);
    const std::size_t pieces = (fuzz::smallImage().size() + chunk - 1) / chunk;
    VELO_FUZZ_CHECK(run.platform.requests <= pieces + 2);
    if (result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED)
        VELO_FUZZ_CHECK(run.platform.requests == pieces + 2);
    // A failed update says which step failed, and a failed piece is one of the image's.
    const bool updated = result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED;
    VELO_FUZZ_CHECK(failure.has_value() == !updated);
    if (failure && failure->step == FailedStep::Download)
        VELO_FUZZ_CHECK(failure->chunk >= 1 && failure->chunk <= pieces &&
                        failure->chunks == pieces);
    if (failure)
        VELO_FUZZ_CHECK(!describeFailure(*failure).empty());
    return 0;
}
