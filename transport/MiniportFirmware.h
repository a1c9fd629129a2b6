// The miniport firmware requests of the inbox NVMe driver (signature "FIRMWARE"): a request
// block after the SRB_IO_CONTROL header, then the function's data.
#pragma once

#include <cstdint>
#include <string_view>

#include "transport/SrbIoControl.h"

namespace velo::fw {

inline constexpr std::string_view SIGNATURE = "FIRMWARE";
inline constexpr std::uint32_t IOCTL_SCSI_MINIPORT_FIRMWARE = 0x001B0780;
inline constexpr std::uint32_t TIMEOUT_SECONDS = 30;

inline constexpr std::uint32_t FUNCTION_GET_INFO = 1;
inline constexpr std::uint32_t FUNCTION_DOWNLOAD = 2;
inline constexpr std::uint32_t FUNCTION_ACTIVATE = 3;
inline constexpr std::uint32_t REQUEST_FLAG_CONTROLLER = 1;

inline constexpr std::uint32_t STATUS_SUCCESS = 0x00;
inline constexpr std::uint32_t STATUS_POWER_CYCLE_REQUIRED = 0x20;

// FIRMWARE_REQUEST_BLOCK, right after the header.
inline constexpr std::size_t BLOCK = srb::SIZE;
inline constexpr std::size_t BLOCK_VERSION = BLOCK + 0;
inline constexpr std::size_t BLOCK_SIZE_FIELD = BLOCK + 4;
inline constexpr std::size_t BLOCK_FUNCTION = BLOCK + 8;
inline constexpr std::size_t BLOCK_FLAGS = BLOCK + 12;
inline constexpr std::size_t BLOCK_DATA_OFFSET = BLOCK + 16;
inline constexpr std::size_t BLOCK_DATA_LENGTH = BLOCK + 20;
inline constexpr std::uint32_t BLOCK_VERSION_VALUE = 1;
inline constexpr std::size_t BLOCK_SIZE = 24;
// The function data follows the block directly (not aligned up to 8).
inline constexpr std::size_t DATA = BLOCK + BLOCK_SIZE;

// STORAGE_FIRMWARE_INFO (version 1), read at the data offset the driver writes back.
inline constexpr std::size_t INFO_UPGRADE_SUPPORT = 8;
inline constexpr std::size_t INFO_SLOT_COUNT = 9;
inline constexpr std::size_t INFO_SLOTS = 16;
inline constexpr std::size_t SLOT_ENTRY_SIZE = 16;
inline constexpr std::size_t SLOT_NUMBER = 0;
inline constexpr std::size_t SLOT_READ_ONLY = 1;

// STORAGE_FIRMWARE_DOWNLOAD (version 1) at DATA.
inline constexpr std::size_t DOWNLOAD_VERSION = DATA + 0;
inline constexpr std::size_t DOWNLOAD_SIZE_FIELD = DATA + 4;
inline constexpr std::size_t DOWNLOAD_OFFSET = DATA + 8;
inline constexpr std::size_t DOWNLOAD_BUFFER_SIZE = DATA + 16;
inline constexpr std::size_t DOWNLOAD_IMAGE = DATA + 24;
inline constexpr std::uint32_t DOWNLOAD_VERSION_VALUE = 1;
inline constexpr std::uint32_t DOWNLOAD_SIZE_VALUE = 24;

// STORAGE_FIRMWARE_ACTIVATE at DATA.
inline constexpr std::size_t ACTIVATE_VERSION = DATA + 0;
inline constexpr std::size_t ACTIVATE_SIZE_FIELD = DATA + 4;
inline constexpr std::size_t ACTIVATE_SLOT = DATA + 8;
inline constexpr std::uint32_t ACTIVATE_VERSION_VALUE = 1;
inline constexpr std::uint32_t ACTIVATE_SIZE_VALUE = 12;

// Header, request block and download header: what a request holds besides one chunk.
inline constexpr std::size_t REQUEST_OVERHEAD = DOWNLOAD_IMAGE;
static_assert(REQUEST_OVERHEAD == 76);
static_assert(DATA == 52);
static_assert(BLOCK_DATA_LENGTH + 4 == BLOCK + BLOCK_SIZE);
static_assert(DOWNLOAD_IMAGE - DATA == DOWNLOAD_SIZE_VALUE);
static_assert(ACTIVATE_SLOT + 4 - DATA == ACTIVATE_SIZE_VALUE);

// Zeroes the buffer and fills the header and the request block for one function. Length
// and DataBufferLength cover the whole buffer in every request.
inline void putRequest(ByteView request, std::uint32_t function) {
    request.zero();
    srb::putHeader(request, SIGNATURE, TIMEOUT_SECONDS, IOCTL_SCSI_MINIPORT_FIRMWARE);
    request.putU32(BLOCK_VERSION, BLOCK_VERSION_VALUE);
    request.putU32(BLOCK_SIZE_FIELD, static_cast<std::uint32_t>(BLOCK_SIZE));
    request.putU32(BLOCK_FUNCTION, function);
    request.putU32(BLOCK_FLAGS, REQUEST_FLAG_CONTROLLER);
    request.putU32(BLOCK_DATA_OFFSET, static_cast<std::uint32_t>(DATA));
    request.putU32(BLOCK_DATA_LENGTH, static_cast<std::uint32_t>(request.size() - DATA));
}

}  // namespace velo::fw
