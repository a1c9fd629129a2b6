// The deployment status /exitcode gives for the outcomes of a run's targets.
#include <gtest/gtest.h>

#include "app/Outcomes.h"
#include "app/Run.h"

namespace velo {
namespace {

TEST(DeploymentStatus, FollowsTheWorstOutcome) {
    const TargetOutcome updated{Outcome::Updated, PendingUntil::None, LeftAloneReason::None};
    const TargetOutcome current{Outcome::Current, PendingUntil::None, LeftAloneReason::None};
    const TargetOutcome pending{Outcome::Pending, PendingUntil::PowerOff, LeftAloneReason::None};
    const TargetOutcome failed{Outcome::Failed, PendingUntil::None, LeftAloneReason::None};
    const TargetOutcome alone{Outcome::LeftAlone, PendingUntil::None,
                              LeftAloneReason::AnotherImageGroup};
    const UnreachedList denied = {
        {DriverKind::Inbox, L"\\\\?\\disk", -1, UnreachedReason::OpenFailed, 5u}};
    struct Case {
        const char* what;
        std::vector<TargetOutcome> outcomes;
        UnreachedList unreached;
        int status;
    };
    const Case cases[] = {
        {"no drive on the machine", {}, {}, EXIT_NOTHING_MATCHES},
        {"a drive that could not be opened", {}, denied, EXIT_FAILED},
        {"updated and current", {updated, current}, {}, EXIT_UPDATED},
        {"pending beside updated", {updated, pending}, {}, EXIT_RESTART_NEEDED},
        {"pending beside a failure", {pending, failed}, {}, EXIT_FAILED},
        {"left alone", {updated, alone}, {}, EXIT_FAILED},
        {"updated, but another disk could not be opened", {updated}, denied, EXIT_FAILED},
    };
    for (const Case& c : cases) {
        const DiskList disks(c.outcomes.size());
        EXPECT_EQ(deploymentStatus(c.outcomes, disks, c.unreached, false), c.status) << c.what;
    }
    // /verify: a drive that reports another revision after activation is not done.
    DiskList verified(1);
    verified[0].verification = Verification{VerifyOutcome::RevisionDiffers, L"QLR2KAXA"};
    EXPECT_EQ(deploymentStatus({updated}, verified, {}, true), EXIT_FAILED);
    EXPECT_EQ(deploymentStatus({updated}, verified, {}, false), EXIT_UPDATED);
}

}  // namespace
}  // namespace velo
