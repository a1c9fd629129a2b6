// The inbox driver's answers to the miniport firmware requests: the get-info reply (data
// offset, slot count, slot entries), then the download and activation statuses. The first
// input byte is the disk's update granularity.
#include "FuzzHarness.h"
#include "stacks/inbox/InboxFirmware.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    fuzz::Input input(data, size);
    DiskRecord disk = makeCandidate(L"\\\\.\\PHYSICALDRIVE0", DriverKind::Inbox);
    disk.updateGranularity = input.u8();
    fuzz::ScriptedRun run(input);
    const auto [result, failure] = inboxUpdateDisk(run.io, disk, {fuzz::smallImage(), L"QLR4KAXA"});
    VELO_FUZZ_CHECK(result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED ||
                    result == INBOX_NOT_ACCEPTED || result == INBOX_REQUEST_FAILED);
    // Get-info, every piece of the image, activation: never more.
    const bool updated = result == INBOX_UPDATED || result == INBOX_REBOOT_REQUIRED;
    fuzz::checkUpdateShape(disk.updateGranularity, run.platform.requests, 2, updated, updated,
                           failure);
    return 0;
}
