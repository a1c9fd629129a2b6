// The Intel RST driver's requests on the controller's storage port: the NVMe pass-through
// ("IntelNvm") and the firmware request ("IntelFw "). Both address one drive with four bytes
// after the SRB_IO_CONTROL header: version 1, the drive's path id, target id 0, logical unit 0.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "wire/FirmwareSlotLog.h"
#include "wire/NvmeCommands.h"
#include "wire/SrbIoControl.h"
#include "wire/StorageFirmware.h"

namespace velo::rst {

inline constexpr std::size_t ADDRESS_VERSION = srb::SIZE;
inline constexpr std::size_t PATH_ID = srb::SIZE + 1;
inline constexpr std::size_t TARGET_ID = srb::SIZE + 2;
inline constexpr std::size_t LOGICAL_UNIT = srb::SIZE + 3;
inline constexpr std::uint8_t ADDRESS_VERSION_VALUE = 1;

// --- NVMe pass-through (RstNvmePassThrough) ---
inline constexpr std::string_view NVME_SIGNATURE = "IntelNvm";
inline constexpr std::uint32_t NVME_TIMEOUT_SECONDS = 10;
inline constexpr std::uint32_t RST_NVME_PASS_THROUGH_CONTROL_CODE = 0xF0002808;

inline constexpr std::size_t PASS_THROUGH_COMMAND = 32;
inline constexpr std::size_t PASS_THROUGH_COMMAND_SET = 96;
inline constexpr std::uint8_t COMMAND_SET_ADMIN = 0;
inline constexpr std::size_t PASS_THROUGH_DATA_OFFSET = 116;
inline constexpr std::size_t PASS_THROUGH_DATA_LENGTH = 120;
inline constexpr std::size_t PASS_THROUGH_DATA = 164;
inline constexpr std::size_t IDENTIFY_DATA_LENGTH = 4096;
inline constexpr std::size_t IDENTIFY_REQUEST_SIZE = PASS_THROUGH_DATA + IDENTIFY_DATA_LENGTH;
static_assert(PASS_THROUGH_COMMAND == LOGICAL_UNIT + 1);
static_assert(PASS_THROUGH_COMMAND + nvme::COMMAND_SIZE == PASS_THROUGH_COMMAND_SET);
static_assert(PASS_THROUGH_DATA_LENGTH + 4 + 40 == PASS_THROUGH_DATA);
static_assert(IDENTIFY_REQUEST_SIZE == 4260);

// The path id that a record's targetAddress gives: its low byte (-1 gives 0xFF).
inline std::uint8_t pathIdOf(std::int64_t targetAddress) {
    return static_cast<std::uint8_t>(targetAddress & 0xFF);
}

inline void putAddress(ByteView request, std::uint8_t pathId) {
    request.putU8(ADDRESS_VERSION, ADDRESS_VERSION_VALUE);
    request.putU8(PATH_ID, pathId);
    request.putU8(TARGET_ID, 0);
    request.putU8(LOGICAL_UNIT, 0);
}

// One admin command for the drive at pathId on a cleared buffer, its data area after the
// request and as long as the rest of the buffer.
inline void putPassThroughRequest(ByteView request, std::uint8_t pathId, std::uint8_t opcode,
                                  std::uint32_t namespaceId, std::uint32_t dword10) {
    request.zero();
    srb::putHeader(request, NVME_SIGNATURE, NVME_TIMEOUT_SECONDS,
                   RST_NVME_PASS_THROUGH_CONTROL_CODE);
    putAddress(request, pathId);
    nvme::putCommand(request, PASS_THROUGH_COMMAND, opcode, namespaceId, dword10, 0);
    request.putU8(PASS_THROUGH_COMMAND_SET, COMMAND_SET_ADMIN);
    request.putU32(PASS_THROUGH_DATA_OFFSET, static_cast<std::uint32_t>(PASS_THROUGH_DATA));
    request.putU32(PASS_THROUGH_DATA_LENGTH,
                   static_cast<std::uint32_t>(request.size() - PASS_THROUGH_DATA));
}

// Identify Controller for the drive at pathId, in a buffer of IDENTIFY_REQUEST_SIZE bytes.
inline void putIdentifyRequest(ByteView request, std::uint8_t pathId) {
    putPassThroughRequest(request, pathId, nvme::ADMIN_IDENTIFY, 0, nvme::IDENTIFY_CNS_CONTROLLER);
}

// Get Log Page of the firmware slot information, in a buffer of SLOT_LOG_REQUEST_SIZE bytes.
inline constexpr std::size_t SLOT_LOG_REQUEST_SIZE =
    PASS_THROUGH_DATA + nvme::FIRMWARE_SLOT_LOG_SIZE;
static_assert(SLOT_LOG_REQUEST_SIZE == 676);
inline void putFirmwareSlotLogRequest(ByteView request, std::uint8_t pathId) {
    putPassThroughRequest(request, pathId, nvme::ADMIN_GET_LOG_PAGE, nvme::NAMESPACE_ALL,
                          nvme::FIRMWARE_SLOT_LOG_DWORD10);
}

// --- Firmware request (RstFirmwareRequest) ---
inline constexpr std::string_view FIRMWARE_SIGNATURE = "IntelFw ";
inline constexpr std::uint32_t FIRMWARE_TIMEOUT_SECONDS = 30;
inline constexpr std::uint32_t RST_FIRMWARE_CONTROL_CODE = 0xF0000040;

inline constexpr std::size_t FIRMWARE_BLOCK = 32;
inline constexpr std::size_t FUNCTION_BLOCK = FIRMWARE_BLOCK + storagefw::BLOCK_SIZE;
// Header, address, request block and version-2 download block: all but the chunk.
inline constexpr std::size_t DOWNLOAD_OVERHEAD = FUNCTION_BLOCK + storagefw::DOWNLOAD_V2_IMAGE;
inline constexpr std::size_t DOWNLOAD_OFFSET = FUNCTION_BLOCK + storagefw::DOWNLOAD_OFFSET;
inline constexpr std::size_t DOWNLOAD_LENGTH = FUNCTION_BLOCK + storagefw::DOWNLOAD_BUFFER_SIZE;
inline constexpr std::size_t DOWNLOAD_IMAGE = DOWNLOAD_OVERHEAD;
inline constexpr std::size_t ACTIVATE_REQUEST_SIZE = FUNCTION_BLOCK + storagefw::ACTIVATE_SIZE;
inline constexpr std::uint8_t ACTIVATE_SLOT = 2;
static_assert(FIRMWARE_BLOCK == LOGICAL_UNIT + 1);
static_assert(FUNCTION_BLOCK == 56);
static_assert(DOWNLOAD_OVERHEAD == 88);
static_assert(DOWNLOAD_LENGTH == 72);
static_assert(ACTIVATE_REQUEST_SIZE == 68);

// Fills the whole buffer with one download request: piece stands at `offset` in the image.
// Length and the function-block length cover the whole buffer, also when the piece is short.
// Every byte is written (the piece once, the rest after it zero), so the buffer is not cleared
// first.
inline void putDownloadRequest(ByteView request, std::uint8_t pathId, std::uint64_t offset,
                               std::span<const std::uint8_t> piece) {
    srb::putHeader(request, FIRMWARE_SIGNATURE, FIRMWARE_TIMEOUT_SECONDS,
                   RST_FIRMWARE_CONTROL_CODE);
    putAddress(request, pathId);
    storagefw::putRequestBlock(request, FIRMWARE_BLOCK, storagefw::FUNCTION_DOWNLOAD,
                               static_cast<std::uint32_t>(FUNCTION_BLOCK),
                               static_cast<std::uint32_t>(request.size() - FUNCTION_BLOCK));
    storagefw::putDownloadV2(request, FUNCTION_BLOCK, offset, piece);
}

// The activate request for `slot`, in a buffer of ACTIVATE_REQUEST_SIZE bytes.
inline void putActivateRequest(ByteView request, std::uint8_t pathId, std::uint8_t slot) {
    request.zero();
    srb::putHeader(request, FIRMWARE_SIGNATURE, FIRMWARE_TIMEOUT_SECONDS,
                   RST_FIRMWARE_CONTROL_CODE);
    putAddress(request, pathId);
    storagefw::putRequestBlock(request, FIRMWARE_BLOCK, storagefw::FUNCTION_ACTIVATE,
                               static_cast<std::uint32_t>(FUNCTION_BLOCK),
                               static_cast<std::uint32_t>(storagefw::ACTIVATE_SIZE));
    storagefw::putActivate(request, FUNCTION_BLOCK, slot);
}

}  // namespace velo::rst
