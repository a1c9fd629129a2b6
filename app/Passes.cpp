#include "app/Passes.h"

#include <set>
#include <string>
#include <utility>

#include "app/FirmwareState.h"
#include "app/ImageCatalogue.h"
#include "stacks/inbox/InboxIdentify.h"
#include "stacks/rst/IntelController.h"
#include "stacks/inbox/PhysicalDrives.h"
#include "platform/Console.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "report/Report.h"
#include "stacks/rst/CsmiRaid.h"
#include "stacks/inbox/InboxFirmware.h"
#include "stacks/rst/RstLayout.h"
#include "stacks/rst/RstDisks.h"
#include "stacks/vroc/VrocDisks.h"

namespace velo {

namespace {

constexpr std::int32_t RESULT_NOT_UPDATED = 1;

// The drives behind the RST ports that a pass has taken as targets. A drive is one target per
// pass, however many RAID sets or entries name its path id on its port (two volumes over the
// same members, a configuration that lists a drive twice): only its first record is kept.
class RstDrivesTaken {
public:
    // Drops the records from `from` on whose drive the pass already holds.
    void keepFirst(DiskList& targets, std::size_t from) {
        auto kept = targets.begin() + static_cast<std::ptrdiff_t>(from);
        for (auto it = kept; it != targets.end(); ++it) {
            if (!taken_.emplace(it->devicePath, rst::pathIdOf(it->targetAddress)).second)
                continue;
            if (kept != it)
                *kept = std::move(*it);
            ++kept;
        }
        targets.erase(kept, targets.end());
    }

private:
    std::set<std::pair<std::wstring, std::uint8_t>> taken_;
};

// Discovery and identify, shared by both passes. Returns the VROC port that discovery found.
std::int32_t discoverAndIdentify(Io& io, DiskScanner& scanner, DiskList& output) {
    std::wstring portPath;
    if (findIntelRaidPort(io, portPath, &scanner.unreached)) {
        enumerateIntelDisks(io, portPath, scanner.discovered, &scanner.unreached);
    }
    enumeratePhysicalDrives(io, scanner.discovered, &scanner.unreached);

    std::int32_t vrocPort = -1;
    if (scanner.discovered.empty())
        return vrocPort;

    RstDrivesTaken rstDrives;
    for (const DiskRecord& candidate : scanner.discovered) {
        bool intelCandidate = false;
        const std::size_t before = scanner.targets.size();
        const std::size_t unreachedBefore = scanner.unreached.size();
        switch (candidate.driverKind) {
            case DriverKind::RstPassThrough:
                rstIdentify(io, candidate, scanner.targets, &scanner.unreached);
                rstDrives.keepFirst(scanner.targets, before);
                intelCandidate = true;
                break;
            case DriverKind::RstRaid:
                csmiReadRaidConfig(io, candidate, scanner.targets, &scanner.unreached);
                rstDrives.keepFirst(scanner.targets, before);
                intelCandidate = true;
                break;
            case DriverKind::Inbox:
                identifyInboxDisk(io, candidate, scanner.targets, &scanner.unreached);
                break;
            default:
                break;
        }
        // VROC discovery starts from an Intel candidate, and only while nothing was found yet.
        if (intelCandidate && scanner.targets.empty()) {
            vrocDiscover(io, candidate, scanner.targets, vrocPort);
            for (DiskRecord& found : scanner.targets)
                found.vrocPort = vrocPort;
            // The drives behind this candidate were reached through the VROC driver after all.
            if (!scanner.targets.empty()) {
                scanner.unreached.resize(unreachedBefore);
            }
        }
    }
    output.insert(output.end(), scanner.targets.begin(), scanner.targets.end());
    return vrocPort;
}

// After an update that reports the new image running: the drive identified again through the
// stack that updated it. A restart-pending result cannot be checked before the restart.
Verification verifyRevision(Io& io, const DiskRecord& target) {
    if (target.resultCode == RETURN_REBOOT_REQUIRED)
        return {VerifyOutcome::PendingRestart, {}};
    DiskList again;
    const DiskRecord fresh =
        makeCandidate(target.devicePath, target.driverKind, target.targetAddress);
    switch (target.driverKind) {
        case DriverKind::Inbox:
            identifyInboxDisk(io, fresh, again);
            break;
        case DriverKind::RstRaid:
        case DriverKind::RstPassThrough:
            rstIdentify(io, fresh, again);
            break;
        default:
            break;
    }
    if (again.empty()) {
        io.console.narrow << "  [WARNING] The drive could not be identified after activation."
                          << lineEnd << lineEnd;
        return {VerifyOutcome::NotIdentified, {}};
    }
    const std::wstring running = again.back().firmwareRevision;
    if (running == updatedFirmwareRevision)
        return {VerifyOutcome::Verified, running};
    io.console.narrow << "  [WARNING] The drive reports firmware revision "
                      << printableAscii(running) << " after activation." << lineEnd << lineEnd;
    return {VerifyOutcome::RevisionDiffers, running};
}

// Hands the target to the update operation of its stack.
UpdateOutcome updateDisk(Io& io, const DiskRecord& target, const UpdateImage& image,
                         std::int32_t vrocPort) {
    switch (target.driverKind) {
        case DriverKind::Inbox:
            return inboxUpdateDisk(io, target, image);
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return vrocUpdateDisk(io, target, image, vrocPort);
        default:
            return rstUpdateDisk(io, target, image);
    }
}

}  // namespace

std::optional<ImageDamage> imageDamage(Platform& platform, int imageNumber,
                                       std::span<const std::uint8_t> bytes) {
    const auto expected = builtImageDigest(imageNumber);
    const auto digest = platform.sha256(bytes);
    if (expected && digest && *digest == *expected)
        return std::nullopt;
    const std::string number = std::to_string(imageNumber);
    ImageDamage damage;
    damage.failure.step = FailedStep::Image;
    if (!digest) {
        damage.finding = "image " + number + " cannot be checked";
        damage.failure.meaning = "the SHA-256 digest of image " + number + " could not be computed";
    } else {
        damage.finding = "image " + number + " is damaged";
        damage.failure.meaning = "image " + number + " differs from the build's SHA-256 digest";
    }
    return damage;
}

int runScanPass(Io& io, DiskScanner& scanner, DiskList& output) {
    discoverAndIdentify(io, scanner, output);
    return 0;
}

void printCurrentTarget(Io& io, const DiskRecord& target) {
    if (target.firmwareState == FirmwareState::Current) {
        io.console.narrow << "  [INFO] Firmware revision "
                          << printableAscii(target.firmwareRevision)
                          << " is current; the disk was left unchanged." << lineEnd << lineEnd;
    } else {
        io.console.narrow << "  [INFO] Firmware revision " << printableAscii(target.waitingRevision)
                          << " waits for the drive's next reset; the disk was left unchanged."
                          << lineEnd << lineEnd;
    }
}

int runUpdatePass(Io& io, DiskScanner& scanner, DiskList& output,
                  const UpdatePassOptions& options) {
    const std::int32_t vrocPort = discoverAndIdentify(io, scanner, output);
    if (options.resume) {
        for (DiskRecord& target : output)
            checkFirmwareState(io, target);
    }
    auto leftForCurrentFirmware = [&](DiskRecord& target) {
        if (target.firmwareState == FirmwareState::Unchecked)
            return false;
        printCurrentTarget(io, target);
        target.resultCode = target.firmwareState == FirmwareState::Current ? RETURN_SUCCESS
                                                                           : RETURN_REBOOT_REQUIRED;
        return true;
    };

    const UpdateImage image{imageBuffer, updatedFirmwareRevision};
    if (auto damage = imageDamage(io.platform, loadedImageNumber, image.bytes)) {
        io.console.narrow << "  [ERROR] Firmware " << damage->finding << "; no drive was touched."
                          << lineEnd << lineEnd;
        for (DiskRecord& target : output) {
            if (target.firmwareState != FirmwareState::Unchecked) {
                target.resultCode = target.firmwareState == FirmwareState::Current
                                        ? RETURN_SUCCESS
                                        : RETURN_REBOOT_REQUIRED;
                continue;
            }
            target.resultCode = RESULT_NOT_UPDATED;
            target.failure = damage->failure;
        }
        return 0;
    }
    for (DiskRecord& target : output) {
        if (leftForCurrentFirmware(target))
            continue;
        if (!takesImage(loadedImageNumber, target.firmwareRevision)) {
            io.console.narrow << "  [ERROR] Firmware revision "
                              << printableAscii(target.firmwareRevision)
                              << " is not updated by this image; the disk was left unchanged."
                              << lineEnd << lineEnd;
            target.resultCode = RESULT_NOT_UPDATED;
            target.failure = leftAloneFailure(target.firmwareRevision);
            continue;
        }
        UpdateOutcome outcome = updateDisk(io, target, image, vrocPort);
        target.resultCode = outcome.resultCode;
        target.failure = std::move(outcome.failure);
        if (options.verify &&
            (target.resultCode == RETURN_SUCCESS || target.resultCode == RETURN_REBOOT_REQUIRED)) {
            target.verification = verifyRevision(io, target);
        }
    }
    return 0;
}

UpdateFailure leftAloneFailure(const std::wstring& revision) {
    UpdateFailure failure;
    failure.step = FailedStep::Revision;
    failure.meaning =
        "revision " + printableAscii(revision) + " is not updated by the loaded image";
    return failure;
}

}  // namespace velo
