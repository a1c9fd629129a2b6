#include <ctime>

#include "platform/SystemFacts.h"

namespace velo {

std::optional<UniversalTime> systemUniversalTime() {
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1))
        return std::nullopt;
    std::tm parts{};
#if defined(_WIN32)
    if (gmtime_s(&parts, &now) != 0)
        return std::nullopt;
#else
    if (gmtime_r(&now, &parts) == nullptr)
        return std::nullopt;
#endif
    return UniversalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace velo
