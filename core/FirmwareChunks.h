// How a firmware image is cut for download.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace velo {

// The unit of a drive's update granularity.
inline constexpr std::uint32_t FIRMWARE_CHUNK_UNIT = 4096;
// A granularity of 255 comes from FWUG 0xFF, which states no restriction.
inline constexpr std::int32_t GRANULARITY_NO_RESTRICTION = 255;

// The image that the update pass hands to a transport: the bytes to download and the revision
// they install (shown in the target banner).
struct UpdateImage {
    std::span<const std::uint8_t> bytes;
    std::wstring_view revision;
};

// The bytes sent per download request for a record's update granularity.
inline std::uint32_t chunkLength(std::int32_t updateGranularity) {
    if (updateGranularity < 1 || updateGranularity >= GRANULARITY_NO_RESTRICTION) {
        return FIRMWARE_CHUNK_UNIT;
    }
    return static_cast<std::uint32_t>(updateGranularity) * FIRMWARE_CHUNK_UNIT;
}

}  // namespace velo
