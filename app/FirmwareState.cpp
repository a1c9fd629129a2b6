#include "app/FirmwareState.h"

#include <array>

#include "app/ImageCatalogue.h"
#include "core/FirmwareSlotLog.h"
#include "stacks/inbox/InboxSlotLog.h"
#include "stacks/rst/RstSlotLog.h"
#include "stacks/vroc/VrocSlotLog.h"

namespace velo {

namespace {

// The drive's firmware slot log, read through the stack that serves it.
std::optional<FirmwareSlotLog> slotLogOf(Io& io, const DiskRecord& target) {
    switch (target.driverKind) {
        case DriverKind::Inbox:
            return readInboxFirmwareSlotLog(io, target);
        case DriverKind::RstRaid:
        case DriverKind::RstPassThrough:
            return readRstFirmwareSlotLog(io, target);
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return readVrocFirmwareSlotLog(io, target, target.vrocPort);
        case DriverKind::None:
            break;
    }
    return std::nullopt;
}

// The installed revision that waits in the drive's next-reset slot; nothing when none does or
// the log cannot be read.
std::optional<std::wstring> revisionWaiting(Io& io, const DiskRecord& target) {
    const auto log = slotLogOf(io, target);
    if (!log)
        return std::nullopt;
    std::array<std::wstring, IMAGE_COUNT> installed;
    for (int image = 1; image <= IMAGE_COUNT; ++image)
        installed[static_cast<std::size_t>(image - 1)] = installedRevision(image);
    return pendingInstalledRevision(*log, installed);
}

}  // namespace

void checkFirmwareState(Io& io, DiskRecord& target) {
    if (imageInstalling(target.firmwareRevision)) {
        target.firmwareState = FirmwareState::Current;
        return;
    }
    if (auto waiting = revisionWaiting(io, target)) {
        target.firmwareState = FirmwareState::Pending;
        target.waitingRevision = std::move(*waiting);
    }
}

std::optional<int> chooseImage(const DiskList& targets, bool resume) {
    for (const DiskRecord& target : targets) {
        if (!resume)
            return selectImageForRevision(target.firmwareRevision);
        if (target.firmwareState != FirmwareState::Unchecked)
            continue;
        if (auto image = selectImageForRevision(target.firmwareRevision))
            return image;
    }
    return std::nullopt;
}

}  // namespace velo
