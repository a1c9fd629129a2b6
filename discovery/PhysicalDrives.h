// The supported maker's NVMe disks on the inbox driver.
#pragma once

#include <string>

#include "discovery/DiskRecord.h"
#include "report/Console.h"

namespace velo {

// Appends one inbox candidate per present disk of the maker that names NVMe in a hardware id.
// False when the device set cannot be built or a matching disk cannot be opened.
bool enumeratePhysicalDrives(Io& io, DiskList& discovered);

}  // namespace velo
