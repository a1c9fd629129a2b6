// The Windows firmware structures that the inbox miniport requests and the Intel RST firmware
// requests both carry: FIRMWARE_REQUEST_BLOCK, STORAGE_FIRMWARE_INFO (version 1),
// STORAGE_FIRMWARE_DOWNLOAD (versions 1 and 2) and STORAGE_FIRMWARE_ACTIVATE. Offsets here are
// relative to the start of each structure; each request family places the structures at its
// own offsets.
#pragma once

#include <cstdint>
#include <span>

#include "wire/ByteView.h"

namespace velo::storagefw {

// FIRMWARE_REQUEST_BLOCK.
inline constexpr std::size_t BLOCK_VERSION = 0;
inline constexpr std::size_t BLOCK_SIZE_FIELD = 4;
inline constexpr std::size_t BLOCK_FUNCTION = 8;
inline constexpr std::size_t BLOCK_FLAGS = 12;
inline constexpr std::size_t BLOCK_DATA_OFFSET = 16;
inline constexpr std::size_t BLOCK_DATA_LENGTH = 20;
inline constexpr std::size_t BLOCK_SIZE = 24;
inline constexpr std::uint32_t BLOCK_VERSION_VALUE = 1;
static_assert(BLOCK_DATA_LENGTH + 4 == BLOCK_SIZE);

inline constexpr std::uint32_t FUNCTION_GET_INFO = 1;
inline constexpr std::uint32_t FUNCTION_DOWNLOAD = 2;
inline constexpr std::uint32_t FUNCTION_ACTIVATE = 3;
inline constexpr std::uint32_t REQUEST_FLAG_CONTROLLER = 1;

// FIRMWARE_STATUS_*: what the driver writes into ReturnCode.
inline constexpr std::uint32_t STATUS_SUCCESS = 0x00;
inline constexpr std::uint32_t STATUS_ERROR = 0x01;
inline constexpr std::uint32_t STATUS_ILLEGAL_REQUEST = 0x02;
inline constexpr std::uint32_t STATUS_INVALID_PARAMETER = 0x03;
inline constexpr std::uint32_t STATUS_INPUT_BUFFER_TOO_BIG = 0x04;
inline constexpr std::uint32_t STATUS_INVALID_SLOT = 0x06;
inline constexpr std::uint32_t STATUS_INVALID_IMAGE = 0x07;
inline constexpr std::uint32_t STATUS_CONTROLLER_ERROR = 0x10;
inline constexpr std::uint32_t STATUS_POWER_CYCLE_REQUIRED = 0x20;

// STORAGE_FIRMWARE_INFO, version 1.
inline constexpr std::size_t INFO_UPGRADE_SUPPORT = 8;
inline constexpr std::size_t INFO_SLOT_COUNT = 9;
inline constexpr std::size_t INFO_SLOTS = 16;
inline constexpr std::size_t SLOT_ENTRY_SIZE = 16;
inline constexpr std::size_t SLOT_NUMBER = 0;
inline constexpr std::size_t SLOT_READ_ONLY = 1;

// STORAGE_FIRMWARE_DOWNLOAD: version 1 carries the image right after BufferSize; version 2
// adds a slot byte, three reserved bytes and an image size before it.
inline constexpr std::size_t DOWNLOAD_VERSION = 0;
inline constexpr std::size_t DOWNLOAD_SIZE_FIELD = 4;
inline constexpr std::size_t DOWNLOAD_OFFSET = 8;
inline constexpr std::size_t DOWNLOAD_BUFFER_SIZE = 16;
inline constexpr std::size_t DOWNLOAD_V1_IMAGE = 24;
inline constexpr std::size_t DOWNLOAD_V2_SLOT = 24;
inline constexpr std::size_t DOWNLOAD_V2_IMAGE_SIZE = 28;
inline constexpr std::size_t DOWNLOAD_V2_IMAGE = 32;
inline constexpr std::uint8_t DOWNLOAD_V2_NO_SLOT = 0xFF;
static_assert(DOWNLOAD_V2_IMAGE_SIZE + 4 == DOWNLOAD_V2_IMAGE);

// STORAGE_FIRMWARE_ACTIVATE.
inline constexpr std::size_t ACTIVATE_VERSION = 0;
inline constexpr std::size_t ACTIVATE_SIZE_FIELD = 4;
inline constexpr std::size_t ACTIVATE_SLOT = 8;
inline constexpr std::size_t ACTIVATE_SIZE = 12;
inline constexpr std::uint32_t ACTIVATE_VERSION_VALUE = 1;
static_assert(ACTIVATE_SLOT + 4 == ACTIVATE_SIZE);

// A request block at `at` whose function data lies at dataOffset (from the start of the
// request) for dataLength bytes.
inline void putRequestBlock(ByteView request, std::size_t at, std::uint32_t function,
                            std::uint32_t dataOffset, std::uint32_t dataLength) {
    request.putU32(at + BLOCK_VERSION, BLOCK_VERSION_VALUE);
    request.putU32(at + BLOCK_SIZE_FIELD, static_cast<std::uint32_t>(BLOCK_SIZE));
    request.putU32(at + BLOCK_FUNCTION, function);
    request.putU32(at + BLOCK_FLAGS, REQUEST_FLAG_CONTROLLER);
    request.putU32(at + BLOCK_DATA_OFFSET, dataOffset);
    request.putU32(at + BLOCK_DATA_LENGTH, dataLength);
}

// A version-1 download block at `at` carrying piece, which stands at `offset` in the image.
// Every byte of the request after the piece is zeroed; the bytes before `at` are the caller's.
inline void putDownloadV1(ByteView request, std::size_t at, std::uint64_t offset,
                          std::span<const std::uint8_t> piece) {
    request.putU32(at + DOWNLOAD_VERSION, 1);
    request.putU32(at + DOWNLOAD_SIZE_FIELD, static_cast<std::uint32_t>(DOWNLOAD_V1_IMAGE));
    request.putU64(at + DOWNLOAD_OFFSET, offset);
    request.putU64(at + DOWNLOAD_BUFFER_SIZE, piece.size());
    request.putBytesThenZero(at + DOWNLOAD_V1_IMAGE, piece);
}

// A version-2 download block naming no slot, its reserved bytes and image size 0, the piece
// after it and every later byte of the request zeroed.
inline void putDownloadV2(ByteView request, std::size_t at, std::uint64_t offset,
                          std::span<const std::uint8_t> piece) {
    request.putU64(at + DOWNLOAD_V2_SLOT, 0);
    request.putU32(at + DOWNLOAD_VERSION, 2);
    request.putU32(at + DOWNLOAD_SIZE_FIELD, static_cast<std::uint32_t>(DOWNLOAD_V2_IMAGE));
    request.putU64(at + DOWNLOAD_OFFSET, offset);
    request.putU64(at + DOWNLOAD_BUFFER_SIZE, piece.size());
    request.putU8(at + DOWNLOAD_V2_SLOT, DOWNLOAD_V2_NO_SLOT);
    request.putBytesThenZero(at + DOWNLOAD_V2_IMAGE, piece);
}

inline void putActivate(ByteView request, std::size_t at, std::uint8_t slot) {
    request.putU32(at + ACTIVATE_VERSION, ACTIVATE_VERSION_VALUE);
    request.putU32(at + ACTIVATE_SIZE_FIELD, static_cast<std::uint32_t>(ACTIVATE_SIZE));
    request.putU8(at + ACTIVATE_SLOT, slot);
}

}  // namespace velo::storagefw
