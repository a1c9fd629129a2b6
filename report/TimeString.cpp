#include "report/TimeString.h"

#include <cstdio>

namespace velo {

std::string formatTimeString(const LocalTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d(%02d:%02d:%02d)", time.day, time.month,
                  time.year, time.hour, time.minute, time.second);
    return text;
}

std::string makeTimeString(Platform& platform) {
    auto now = platform.localTime();
    return now ? formatTimeString(*now) : std::string("00-00-0000(00:00:00)");
}

}  // namespace velo
