// What /resume and /list learn of a target before any update step: whether it already runs
// the firmware an image installs, or such firmware waits in the slot that activates at its
// next reset (the drive's Firmware Slot Information log page, read through its stack).
#pragma once

#include "core/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// Sets the target's firmwareState (and waitingRevision): Current when its revision is one an
// image installs; else Pending when the log page names such a revision in the next-reset slot;
// else it stays Unchecked. Prints nothing.
void checkFirmwareState(Io& io, DiskRecord& target);

// The image a run loads: without resume, the one the first target's revision selects; with it,
// the one selected by the first target that does not already run, or wait to run, current
// firmware. Nothing when that revision selects none.
std::optional<int> chooseImage(const DiskList& targets, bool resume);

}  // namespace velo
