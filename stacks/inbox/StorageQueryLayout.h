// IOCTL_STORAGE_QUERY_PROPERTY with the NVMe protocol-specific identify and log page queries,
// and the STORAGE_DEVICE_NUMBER answer of IOCTL_STORAGE_GET_DEVICE_NUMBER.
#pragma once

#include <cstdint>

#include "wire/ByteView.h"
#include "wire/FirmwareSlotLog.h"

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
inline constexpr std::uint32_t STORAGE_DEVICE_PROTOCOL_SPECIFIC_PROPERTY = 50;
inline constexpr std::uint32_t PROPERTY_STANDARD_QUERY = 0;
inline constexpr std::uint32_t PROTOCOL_TYPE_NVME = 3;
inline constexpr std::uint32_t NVME_DATA_TYPE_IDENTIFY = 1;
inline constexpr std::uint32_t NVME_DATA_TYPE_LOG_PAGE = 2;
inline constexpr std::uint32_t NVME_IDENTIFY_CNS_CONTROLLER = 1;

// One NVMe protocol-specific query whose data follows the 40-byte structure, on a cleared
// buffer.
inline void putNvmeQuery(ByteView request, std::uint32_t propertyId, std::uint32_t dataType,
                         std::uint32_t requestValue, std::size_t dataLength) {
    request.zero();
    request.putU32(PROPERTY_ID, propertyId);
    request.putU32(QUERY_TYPE, PROPERTY_STANDARD_QUERY);
    request.putU32(PROTOCOL_TYPE, PROTOCOL_TYPE_NVME);
    request.putU32(DATA_TYPE, dataType);
    request.putU32(REQUEST_VALUE, requestValue);
    request.putU32(REQUEST_SUB_VALUE, 0);
    request.putU32(PROTOCOL_DATA_OFFSET, static_cast<std::uint32_t>(PROTOCOL_SPECIFIC_DATA_SIZE));
    request.putU32(PROTOCOL_DATA_LENGTH, static_cast<std::uint32_t>(dataLength));
}

inline void putIdentifyControllerQuery(ByteView request) {
    putNvmeQuery(request, STORAGE_ADAPTER_PROTOCOL_SPECIFIC_PROPERTY, NVME_DATA_TYPE_IDENTIFY,
                 NVME_IDENTIFY_CNS_CONTROLLER, IDENTIFY_DATA_SIZE);
}

// The firmware slot information log, asked of the device (the log identifier is the request
// value, the sub value the offset in the log: 0), in a buffer of SLOT_LOG_REQUEST_SIZE bytes.
inline constexpr std::size_t SLOT_LOG_REQUEST_SIZE = IDENTIFY_DATA + nvme::FIRMWARE_SLOT_LOG_SIZE;
static_assert(SLOT_LOG_REQUEST_SIZE == 560);
inline void putFirmwareSlotLogQuery(ByteView request) {
    putNvmeQuery(request, STORAGE_DEVICE_PROTOCOL_SPECIFIC_PROPERTY, NVME_DATA_TYPE_LOG_PAGE,
                 nvme::LOG_FIRMWARE_SLOT_INFO, nvme::FIRMWARE_SLOT_LOG_SIZE);
}

// The answer starts with STORAGE_PROTOCOL_DATA_DESCRIPTOR: Version and Size (both its own size,
// 48), then the protocol-specific structure at 8 with the offset and length of the data the
// driver returned; the offset counts from that structure.
inline constexpr std::size_t DESCRIPTOR_VERSION = 0;
inline constexpr std::size_t DESCRIPTOR_SIZE = 4;
inline constexpr std::size_t DESCRIPTOR_PROTOCOL_DATA = 8;
inline constexpr std::uint32_t DESCRIPTOR_LENGTH = 48;
static_assert(DESCRIPTOR_PROTOCOL_DATA + PROTOCOL_SPECIFIC_DATA_SIZE == DESCRIPTOR_LENGTH);

// STORAGE_DEVICE_NUMBER: device type, device number, partition number.
inline constexpr std::size_t DEVICE_NUMBER_SIZE = 12;
inline constexpr std::size_t DEVICE_NUMBER = 4;

}  // namespace velo::query
