#include "transport/RstTransport.h"

namespace velo {

// The Intel RST transport is not built yet: it identifies nothing and updates nothing.
int rstIdentify(Io&, DiskRecord, DiskList&) {
    return 8;
}

int rstUpdateDisk(Io&, const DiskRecord&, const UpdateImage&) {
    return 1;
}

}  // namespace velo
