// The scan pass and the update pass: discovery, identify, and (update pass only) the firmware
// update of every target, each dispatched to the driver stack that serves it.
#pragma once

#include <cstdint>

#include "discovery/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// The two record lists of one pass; a scanner serves exactly one pass.
struct DiskScanner {
    DiskList discovered;
    DiskList targets;
};

// Discovery and identify; appends every target to output. Sends no firmware.
int runScanPass(Io& io, DiskScanner& scanner, DiskList& output);
// Discovery and identify again, then the update of every target in output, in order. With
// verify, each disk whose update reports the new image running is identified again through the
// same stack and the revision it reports is compared with the image's.
int runUpdatePass(Io& io, DiskScanner& scanner, DiskList& output, bool verify = false);

}  // namespace velo
