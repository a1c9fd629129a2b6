// Disks behind the Intel VROC driver: discovery, firmware download and activation.
#pragma once

#include <cstdint>

#include "discovery/DiskRecord.h"
#include "platform/Io.h"
#include "transport/FirmwareChunks.h"

namespace velo {

// Appends the VROC disks found from this candidate and writes their SCSI port to vrocPort.
int vrocDiscover(Io& io, DiskRecord record, DiskList& targets, std::int32_t& vrocPort);
// 0 updated, 1602 activation needs a restart, any other value failed.
int vrocUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image, std::int32_t vrocPort);

}  // namespace velo
