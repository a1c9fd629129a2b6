#include <unistd.h>

#include <climits>

#include "platform/SystemFacts.h"

namespace velo {

std::string systemComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

}  // namespace velo
