// What became of one target, as the result document and the deployment exit status tell it.
#pragma once

#include <optional>
#include <string>

namespace velo {

enum class Outcome {
    Updated,    // downloaded and activated: it runs the new firmware
    Pending,    // the new firmware waits for the drive's next reset
    Current,    // it already runs the firmware an image installs; nothing was sent
    LeftAlone,  // nothing was sent: its revision does not take the chosen image, or none
    Failed,     // an update step failed
};

// What a pending target waits for.
enum class PendingUntil {
    None,
    Restart,   // the VROC commit: the next reset, which a restart gives
    PowerOff,  // the drive asked for a power cycle, which a restart does not give
    Reset,     // found waiting in its next-reset slot: a full power-off always gives it
};

enum class LeftAloneReason {
    None,
    AnotherImageGroup,   // its revision selects another image than the one chosen
    NoImageForRevision,  // its revision selects no image
};

// What /list plans for a target.
enum class Plan {
    WouldUpdate,
    Current,
    Pending,
    LeftAlone,
};

struct TargetOutcome {
    Outcome outcome = Outcome::LeftAlone;
    PendingUntil pendingUntil = PendingUntil::None;
    LeftAloneReason leftAlone = LeftAloneReason::None;
};

}  // namespace velo
