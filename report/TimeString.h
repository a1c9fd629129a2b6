// The one text form of a time stamp: DD-MM-YYYY(hh:mm:ss) in local time.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace velo {

// "07-12-2026(13:47:38)"; "00-00-0000(00:00:00)" when the local time cannot be read.
std::string makeTimeString(Platform& platform);
std::string formatTimeString(const LocalTime& time);

}  // namespace velo
