// The Identify Controller fields VELO reads, and the firmware update granularity rule.
#pragma once

#include <cstdint>
#include <string>

#include "wire/ByteView.h"

namespace velo::nvme {

inline constexpr std::size_t IDENTIFY_SIZE = 4096;
inline constexpr std::size_t SERIAL_NUMBER = 4;
inline constexpr std::size_t SERIAL_NUMBER_SIZE = 20;
inline constexpr std::size_t MODEL_NUMBER = 24;
inline constexpr std::size_t MODEL_NUMBER_SIZE = 40;
inline constexpr std::size_t FIRMWARE_REVISION = 64;
inline constexpr std::size_t FIRMWARE_REVISION_SIZE = 8;
inline constexpr std::size_t VERSION_MINOR = 81;
inline constexpr std::size_t VERSION_MAJOR = 82;
inline constexpr std::size_t FIRMWARE_UPDATE_GRANULARITY = 319;

// FWUG 0xFF: the drive states no restriction.
inline constexpr std::uint8_t FWUG_NO_RESTRICTION = 0xFF;

// The granularity in 4096-byte units: FWUG from NVMe 1.3 on, when the drive states one;
// otherwise 1.
inline std::int32_t updateGranularity(const ByteView& identify) {
    const std::uint16_t major = identify.u16(VERSION_MAJOR);
    const std::uint8_t minor = identify.u8(VERSION_MINOR);
    const std::uint8_t fwug = identify.u8(FIRMWARE_UPDATE_GRANULARITY);
    const bool hasGranularity = major > 1 || (major == 1 && minor >= 3);
    return hasGranularity && fwug != 0 ? fwug : 1;
}

}  // namespace velo::nvme
