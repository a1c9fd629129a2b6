#include "stacks/rst/CsmiRaid.h"

#include <algorithm>
#include <vector>

#include "platform/Console.h"
#include "platform/Platform.h"
#include "stacks/rst/CsmiLayout.h"
#include "stacks/rst/RstDisks.h"

namespace velo {

namespace {

// Identifies the first `count` members listed in a reply; the caller has checked that the
// reply holds them. An entry that describes no drive is passed over.
void identifyMembers(Io& io, const DiskRecord& controller, const ByteView& reply, std::size_t count,
                     DiskList& targets, UnreachedList* unreached) {
    for (std::size_t entry = 0; entry < count; ++entry) {
        if (!csmi::describesDrive(reply, entry))
            continue;
        const std::uint8_t pathId = reply.u8(csmi::pathIdAt(entry));
        rstIdentify(io, makeCandidate(controller.devicePath, DriverKind::RstRaid, pathId), targets,
                    unreached);
    }
}

}  // namespace

int csmiReadRaidConfig(Io& io, DiskRecord record, DiskList& targets, UnreachedList* unreached) {
    std::vector<std::uint8_t> buffer(csmi::REQUEST_SIZE);
    ByteView reply(buffer);
    csmi::putRequest(reply);

    // The controller stays open, unshared, while its members are identified.
    auto opened =
        io.platform.openDevice(record.devicePath, ACCESS_READ_WRITE, SHARE_NONE, OPEN_FLAGS_NONE);
    if (!opened.file) {
        noteUnreached(unreached, DriverKind::RstRaid, record.devicePath,
                      UnreachedReason::OpenFailed, opened.error);
        return CSMI_READ;
    }
    const ControlResult result = srb::sendWhole(*opened.file, buffer);
    if (!result.ok) {
        io.console.printWide(L"  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x%X\n\n",
                             result.error);
        noteUnreached(unreached, DriverKind::RstRaid, record.devicePath,
                      UnreachedReason::IdentifyFailed, result.error);
        return CSMI_FAILED;
    }
    if (const std::uint32_t status = srb::returnCode(reply); status != 0) {
        io.console.narrow << "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x" << Hex{status}
                          << lineEnd << lineEnd;
        noteUnreached(unreached, DriverKind::RstRaid, record.devicePath,
                      UnreachedReason::IdentifyFailed);
        return CSMI_FAILED;
    }

    const std::uint8_t driveCount = reply.u8(csmi::DRIVE_COUNT);
    const std::size_t held = csmi::entriesHeld(buffer.size());
    if (driveCount <= held) {
        identifyMembers(io, record, reply, driveCount, targets, unreached);
        return CSMI_READ;
    }

    // More drives than the reply holds: ask once more with room for all of them, and take
    // the members both replies agree on. Should that fail, the two entries at hand serve.
    std::vector<std::uint8_t> larger(csmi::requestSizeFor(driveCount));
    ByteView second(larger);
    csmi::putRequest(second);
    if (srb::sendWhole(*opened.file, larger).ok && srb::returnCode(second) == 0) {
        const std::size_t agreed = std::min(second.u8(csmi::DRIVE_COUNT), driveCount);
        identifyMembers(io, record, second, agreed, targets, unreached);
    } else {
        identifyMembers(io, record, reply, held, targets, unreached);
    }
    return CSMI_READ;
}

}  // namespace velo
