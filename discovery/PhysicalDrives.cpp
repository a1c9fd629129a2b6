#include "discovery/PhysicalDrives.h"

namespace velo {

bool enumeratePhysicalDrives(Io&, DiskList&) { return true; }

}  // namespace velo
