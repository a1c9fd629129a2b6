// The member drives of an Intel RST RAID volume, from the CSMI RAID configuration.
#pragma once

#include "core/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

inline constexpr int CSMI_READ = 0;
inline constexpr int CSMI_FAILED = 5;

// Asks the controller for RAID set 0 and hands one record per member drive to rstIdentify.
// 0 when the configuration was read (or the controller did not open), 5 when it was refused.
int csmiReadRaidConfig(Io& io, DiskRecord record, DiskList& targets,
                       UnreachedList* unreached = nullptr);

}  // namespace velo
