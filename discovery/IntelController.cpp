#include "discovery/IntelController.h"

namespace velo {

// Controller classification is not built yet: no Intel port is ever found.
bool findIntelRaidPort(Io&, std::wstring&) {
    return false;
}

bool enumerateIntelDisks(Io&, const std::wstring&, DiskList&) {
    return false;
}

int readDiskBusNumber(Io&, std::uint32_t) {
    return -1;
}

}  // namespace velo
