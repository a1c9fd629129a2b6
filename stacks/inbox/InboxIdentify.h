// Identity of one disk on the inbox NVMe driver, through the storage protocol query.
#pragma once

#include "core/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// Fills the disk's identity and update granularity and appends it to targets.
// 0 identified, 2 the disk did not open, 5 the query failed.
int identifyInboxDisk(Io& io, DiskRecord disk, DiskList& targets,
                      UnreachedList* unreached = nullptr);

}  // namespace velo
