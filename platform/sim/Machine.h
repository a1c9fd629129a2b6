// The simulated machine: its devices, device files, drivers and drives.
#pragma once

#include "platform/Platform.h"

namespace velo::sim {

struct Machine {
    StartupStatus startup = StartupStatus::Ok;
};

}  // namespace velo::sim
