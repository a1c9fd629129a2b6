// The outcome of each target of a run and the exit status a deployment tool reads (/exitcode).
#pragma once

#include <optional>
#include <vector>

#include "core/DiskRecord.h"
#include "core/Outcome.h"

namespace velo {

// Exit statuses with /exitcode (EXIT_UPDATED, EXIT_RESTART_NEEDED, EXIT_FAILED, and
// EXIT_ANOTHER_RUN in app/Run.h).
inline constexpr int EXIT_NOTHING_MATCHES = 2;  // no disk on this machine is the drive

// A target that went through the update pass: by its result code, its failure and what
// /resume found of its firmware.
TargetOutcome updatedOutcome(const DiskRecord& target);
// A target that no update pass reached (no image was chosen): current when it runs the
// firmware an image installs (or waits to), otherwise left alone.
TargetOutcome untouchedOutcome(const DiskRecord& target);
// Why a target whose revision takes no image was left alone.
LeftAloneReason leftAloneReason(const DiskRecord& target);

// The deployment status of a run: 2 when nothing on the machine is the drive; 1 when a target
// failed or was left alone, /verify found another revision, or a matching disk could not be
// reached; 3010 when something waits for a restart or a power-off; 0 when every target runs
// the firmware it should.
int deploymentStatus(const std::vector<TargetOutcome>& outcomes, const DiskList& targets,
                     const UnreachedList& unreached, bool verify);

}  // namespace velo
