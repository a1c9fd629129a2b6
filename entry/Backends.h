// The backends an entry point can offer the launcher besides the machine it runs on.
#pragma once

#include "app/Launch.h"

namespace velo {

// /trace: every platform call written to a file, one JSON line each. Every program offers it:
// a field trace recorded by velo.exe replays on the simulated builds.
void offerTracing(LaunchHooks& hooks);

// The simulated storage stack: the embedded example machine as the default, /machine FILE and
// /replay FILE. Only the host build and the Windows test executable carry it. The machines
// echo on the hooks' channels, which must be set first.
void offerSimulation(LaunchHooks& hooks);

}  // namespace velo
