// The member drives of an Intel RST RAID volume, from the CSMI RAID configuration.
#pragma once

#include "discovery/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// Hands one record per member drive to rstIdentify.
int csmiReadRaidConfig(Io& io, DiskRecord record, DiskList& targets);

}  // namespace velo
