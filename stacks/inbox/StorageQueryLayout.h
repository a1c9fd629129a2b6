// IOCTL_STORAGE_QUERY_PROPERTY with the NVMe protocol-specific identify query, and the
// STORAGE_DEVICE_NUMBER answer of IOCTL_STORAGE_GET_DEVICE_NUMBER.
#pragma once

#include <cstdint>

#include "wire/ByteView.h"

namespace velo::query {

// STORAGE_PROPERTY_QUERY followed by STORAGE_PROTOCOL_SPECIFIC_DATA.
inline constexpr std::size_t PROPERTY_ID = 0;
inline constexpr std::size_t QUERY_TYPE = 4;
inline constexpr std::size_t PROTOCOL_TYPE = 8;
inline constexpr std::size_t DATA_TYPE = 12;
inline constexpr std::size_t REQUEST_VALUE = 16;
inline constexpr std::size_t REQUEST_SUB_VALUE = 20;
inline constexpr std::size_t PROTOCOL_DATA_OFFSET = 24;
inline constexpr std::size_t PROTOCOL_DATA_LENGTH = 28;
inline constexpr std::size_t PROTOCOL_SPECIFIC_DATA_SIZE = 40;
// The identify data follows the 40-byte protocol-specific structure that starts at 8.
inline constexpr std::size_t IDENTIFY_DATA = 8 + PROTOCOL_SPECIFIC_DATA_SIZE;
inline constexpr std::size_t IDENTIFY_DATA_SIZE = 4096;
inline constexpr std::size_t REQUEST_SIZE = IDENTIFY_DATA + IDENTIFY_DATA_SIZE;
static_assert(REQUEST_SIZE == 4144);

inline constexpr std::uint32_t STORAGE_ADAPTER_PROTOCOL_SPECIFIC_PROPERTY = 49;
inline constexpr std::uint32_t PROPERTY_STANDARD_QUERY = 0;
inline constexpr std::uint32_t PROTOCOL_TYPE_NVME = 3;
inline constexpr std::uint32_t NVME_DATA_TYPE_IDENTIFY = 1;
inline constexpr std::uint32_t NVME_IDENTIFY_CNS_CONTROLLER = 1;

inline void putIdentifyControllerQuery(ByteView request) {
    request.zero();
    request.putU32(PROPERTY_ID, STORAGE_ADAPTER_PROTOCOL_SPECIFIC_PROPERTY);
    request.putU32(QUERY_TYPE, PROPERTY_STANDARD_QUERY);
    request.putU32(PROTOCOL_TYPE, PROTOCOL_TYPE_NVME);
    request.putU32(DATA_TYPE, NVME_DATA_TYPE_IDENTIFY);
    request.putU32(REQUEST_VALUE, NVME_IDENTIFY_CNS_CONTROLLER);
    request.putU32(REQUEST_SUB_VALUE, 0);
    request.putU32(PROTOCOL_DATA_OFFSET, static_cast<std::uint32_t>(PROTOCOL_SPECIFIC_DATA_SIZE));
    request.putU32(PROTOCOL_DATA_LENGTH, static_cast<std::uint32_t>(IDENTIFY_DATA_SIZE));
}

// STORAGE_DEVICE_NUMBER: device type, device number, partition number.
inline constexpr std::size_t DEVICE_NUMBER_SIZE = 12;
inline constexpr std::size_t DEVICE_NUMBER = 4;

}  // namespace velo::query
