// The scan pass and the update pass: discovery, identify, and (update pass only) the firmware
// update of every target, each dispatched to the driver stack that serves it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// The two record lists of one pass; a scanner serves exactly one pass.
struct DiskScanner {
    DiskList discovered;
    DiskList targets;
    UnreachedList unreached;  // disks that matched but yielded no target, and why
};

// How the update pass treats its targets.
struct UpdatePassOptions {
    // Each disk whose update reports the new image running is identified again through the
    // same stack and the revision it reports is compared with the image's (/verify).
    bool verify = false;
    // A target that runs, or waits to run, the firmware an image installs gets no firmware
    // request (/resume).
    bool resume = false;
};

// What is wrong with an image that must not be sent.
struct ImageDamage {
    std::string finding;    // "image N is damaged" or "image N cannot be checked"
    UpdateFailure failure;  // what every target then fails with
};

// The image with this number, hashed by the system and compared with the digest that the build
// recorded: a damaged executable or a bad memory page must never reach a drive. Nothing when
// the image is intact.
std::optional<ImageDamage> imageDamage(Platform& platform, int imageNumber,
                                       std::span<const std::uint8_t> bytes);

// Discovery and identify; appends every target to output. Sends no firmware.
int runScanPass(Io& io, DiskScanner& scanner, DiskList& output);
// Discovery and identify again, then the update of every target in output, in order.
int runUpdatePass(Io& io, DiskScanner& scanner, DiskList& output,
                  const UpdatePassOptions& options = {});

// Why a target whose revision does not take the loaded image was left alone.
UpdateFailure leftAloneFailure(const std::wstring& revision);

// The lines of a target that /resume leaves alone because it runs, or waits to run, current
// firmware.
void printCurrentTarget(Io& io, const DiskRecord& target);

}  // namespace velo
