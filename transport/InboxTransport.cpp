#include "transport/InboxTransport.h"

namespace velo {

int inboxUpdateDisk(Io&, const DiskRecord&, std::uint32_t) { return 1; }

}  // namespace velo
