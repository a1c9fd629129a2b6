// What velo.exe and the Windows test executable do around the launcher.
#pragma once

#include <functional>

#include "app/Launch.h"

namespace velo {

// DLLs from the system folder only, the parent's console joined, the build's Windows
// identifiers checked, the command line read from the process, then the launcher with the
// hooks that offer() completes (its output channels are set first). A usage error, or the
// usage asked for, is shown in a box where no console shows it, unless /s is given. Returns
// the exit status; an exception that escapes ends with EXIT_INTERNAL_ERROR rather than the
// runtime's abort, which can stop an unattended run on an error dialog.
int runWindowsProgram(const std::function<void(LaunchHooks&)>& offer);

}  // namespace velo
