#include "app/FirmwareState.h"

#include "app/ImageCatalogue.h"

namespace velo {

namespace {

// The installed revision that waits in the drive's next-reset slot; nothing when none does or
// the log page cannot be read.
std::optional<std::wstring> revisionWaiting(Io&, const DiskRecord&) {
    return std::nullopt;
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
