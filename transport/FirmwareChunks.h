// How a firmware image is cut for download.
#pragma once

#include <cstdint>

namespace velo {

// The unit of a drive's update granularity.
inline constexpr std::uint32_t FIRMWARE_CHUNK_UNIT = 4096;
// A granularity of 255 comes from FWUG 0xFF, which states no restriction.
inline constexpr std::int32_t GRANULARITY_NO_RESTRICTION = 255;

// The bytes sent per download request for a record's update granularity.
inline std::uint32_t chunkLength(std::int32_t updateGranularity) {
    if (updateGranularity < 1 || updateGranularity >= GRANULARITY_NO_RESTRICTION) {
        return FIRMWARE_CHUNK_UNIT;
    }
    return static_cast<std::uint32_t>(updateGranularity) * FIRMWARE_CHUNK_UNIT;
}

}  // namespace velo
