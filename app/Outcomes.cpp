#include "app/Outcomes.h"

#include <algorithm>

#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "report/Report.h"

namespace velo {

namespace {

// The inbox driver's status 0x20 and the RST driver's ReturnCode 32 ask for a power cycle; the
// VROC commit activates at the next reset.
PendingUntil pendingAfterUpdate(DriverKind kind) {
    switch (kind) {
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return PendingUntil::Restart;
        default:
            return PendingUntil::PowerOff;
    }
}

TargetOutcome byFirmwareState(const DiskRecord& target) {
    if (target.firmwareState == FirmwareState::Pending)
        return {Outcome::Pending, PendingUntil::Reset, LeftAloneReason::None};
    return {Outcome::Current, PendingUntil::None, LeftAloneReason::None};
}

}  // namespace

LeftAloneReason leftAloneReason(const DiskRecord& target) {
    return selectImageForRevision(target.firmwareRevision) ? LeftAloneReason::AnotherImageGroup
                                                           : LeftAloneReason::NoImageForRevision;
}

TargetOutcome updatedOutcome(const DiskRecord& target) {
    if (target.firmwareState != FirmwareState::Unchecked)
        return byFirmwareState(target);
    if (target.resultCode == RETURN_SUCCESS)
        return {Outcome::Updated, PendingUntil::None, LeftAloneReason::None};
    if (target.resultCode == RETURN_REBOOT_REQUIRED)
        return {Outcome::Pending, pendingAfterUpdate(target.driverKind), LeftAloneReason::None};
    if (target.failure && target.failure->step == FailedStep::Revision)
        return {Outcome::LeftAlone, PendingUntil::None, leftAloneReason(target)};
    return {Outcome::Failed, PendingUntil::None, LeftAloneReason::None};
}

TargetOutcome untouchedOutcome(const DiskRecord& target) {
    if (target.firmwareState != FirmwareState::Unchecked)
        return byFirmwareState(target);
    if (imageInstalling(target.firmwareRevision))
        return {Outcome::Current, PendingUntil::None, LeftAloneReason::None};
    return {Outcome::LeftAlone, PendingUntil::None, leftAloneReason(target)};
}

int deploymentStatus(const std::vector<TargetOutcome>& outcomes, const DiskList& targets,
                     const UnreachedList& unreached, bool verify) {
    if (outcomes.empty() && unreached.empty())
        return EXIT_NOTHING_MATCHES;
    const auto any = [&](Outcome wanted) {
        return std::any_of(outcomes.begin(), outcomes.end(),
                           [&](const TargetOutcome& o) { return o.outcome == wanted; });
    };
    const bool revisionDiffers =
        verify && std::any_of(targets.begin(), targets.end(), [](const DiskRecord& disk) {
            return disk.verification &&
                   disk.verification->outcome == VerifyOutcome::RevisionDiffers;
        });
    if (any(Outcome::Failed) || any(Outcome::LeftAlone) || revisionDiffers || !unreached.empty())
        return EXIT_FAILED;
    if (any(Outcome::Pending))
        return EXIT_RESTART_NEEDED;
    return EXIT_UPDATED;
}

}  // namespace velo
