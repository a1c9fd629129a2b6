// The /list run: the scan pass alone, then each target with the image it would receive, or why
// it would receive none. No firmware request is sent.
#pragma once

#include <optional>
#include <string>

#include "app/Run.h"
#include "core/DiskRecord.h"
#include "platform/Platform.h"

namespace velo {

// What a run would give one target of the scan pass.
struct PlannedImage {
    std::optional<int> image;  // nothing: the target would receive no image
    std::string reason;        // why not, when it would receive none
};

// The plan for every target, in order: the image is chosen as the run chooses it (from the
// first target's revision; with resume, from the first that does not run current firmware),
// and a target takes it by the update pass's own rule (takesImage).
std::vector<PlannedImage> planImages(const DiskList& targets, bool resume = false);

// Prints the list (and writes it to the log file when one is set, and the result document with
// each target's plan when /json names one). Returns 0; with exitCodeFollowsResult, 0 when some
// target would receive an image and 1 otherwise.
int listTargets(Platform& platform, const RunOptions& options);

}  // namespace velo
