// The miniport firmware requests of the inbox NVMe driver (signature "FIRMWARE"): the request
// block right after the SRB_IO_CONTROL header, then the function's data.
#pragma once

#include <cstdint>
#include <string_view>

#include "wire/SrbIoControl.h"
#include "wire/StorageFirmware.h"

namespace velo::miniport {

inline constexpr std::string_view SIGNATURE = "FIRMWARE";
inline constexpr std::uint32_t IOCTL_SCSI_MINIPORT_FIRMWARE = 0x001B0780;
inline constexpr std::uint32_t TIMEOUT_SECONDS = 30;

// FIRMWARE_REQUEST_BLOCK right after the header; the function data follows it directly (not
// aligned up to 8).
inline constexpr std::size_t BLOCK = srb::SIZE;
inline constexpr std::size_t BLOCK_DATA_OFFSET = BLOCK + storagefw::BLOCK_DATA_OFFSET;
inline constexpr std::size_t DATA = BLOCK + storagefw::BLOCK_SIZE;
// Header, request block and version-1 download header: what a request holds besides one chunk.
inline constexpr std::size_t REQUEST_OVERHEAD = DATA + storagefw::DOWNLOAD_V1_IMAGE;
static_assert(DATA == 52);
static_assert(REQUEST_OVERHEAD == 76);

// Zeroes the buffer and fills the header and the request block for one function. Length
// and DataBufferLength cover the whole buffer in every request.
inline void putRequest(ByteView request, std::uint32_t function) {
    request.zero();
    srb::putHeader(request, SIGNATURE, TIMEOUT_SECONDS, IOCTL_SCSI_MINIPORT_FIRMWARE);
    storagefw::putRequestBlock(request, BLOCK, function, static_cast<std::uint32_t>(DATA),
                               static_cast<std::uint32_t>(request.size() - DATA));
}

// One download request over the whole buffer: header, request block, version-1 download block
// and the piece, every byte after the piece zero. Only the bytes around the piece are written
// besides it, so a chunk is copied once and the buffer is not cleared first.
inline void putDownloadRequest(ByteView request, std::uint64_t offset,
                               std::span<const std::uint8_t> piece) {
    srb::putHeader(request, SIGNATURE, TIMEOUT_SECONDS, IOCTL_SCSI_MINIPORT_FIRMWARE);
    storagefw::putRequestBlock(request, BLOCK, storagefw::FUNCTION_DOWNLOAD,
                               static_cast<std::uint32_t>(DATA),
                               static_cast<std::uint32_t>(request.size() - DATA));
    storagefw::putDownloadV1(request, DATA, offset, piece);
}

}  // namespace velo::miniport
