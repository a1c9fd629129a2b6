// Firmware download and activation through the inbox driver's miniport firmware requests.
#pragma once

#include <cstdint>

#include "discovery/DiskRecord.h"
#include "report/Console.h"

namespace velo {

// Installs the loaded image on the disk. 0 updated, 1602 activation needs a restart,
// 1 the drive cannot take it, 5 a request failed.
int inboxUpdateDisk(Io& io, const DiskRecord& disk, std::uint32_t imageSize);

}  // namespace velo
