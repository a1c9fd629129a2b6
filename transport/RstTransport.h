// Identify, firmware download and activation of disks behind the Intel RST driver.
#pragma once

#include <cstdint>

#include "discovery/DiskRecord.h"
#include "platform/Io.h"
#include "transport/FirmwareChunks.h"

namespace velo {

// 0 identified and appended, 5 the pass-through request failed, 8 no buffer or no device.
int rstIdentify(Io& io, DiskRecord record, DiskList& targets);
// 0 updated, 1602 activation needs a restart, any other value failed.
int rstUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image);

}  // namespace velo
