// What the system the program runs on says of itself: the time in UTC and its name. Shared by
// the backends that answer for a real system (velo.exe's, and a replay's own).
#pragma once

#include <optional>
#include <string>

#include "platform/Platform.h"

namespace velo {

// The time now in UTC, from the C runtime's clock; nothing when it cannot be read.
std::optional<UniversalTime> systemUniversalTime();
// The computer's name as the system gives it; empty when it cannot be read.
std::string systemComputerName();

}  // namespace velo
