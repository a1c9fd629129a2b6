#include "discovery/InboxIdentify.h"

namespace velo {

int identifyInboxDisk(Io&, DiskRecord, DiskList&) { return 5; }

}  // namespace velo
