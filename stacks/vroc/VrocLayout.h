// The Intel VROC driver's "NvmeRAID" requests on the SCSI ports: the five count and list queries
// of discovery, and the NVMe pass-through (identify, Firmware Image Download, Firmware Commit)
// addressed to one disk by the disk id in ReturnCode.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "stacks/vroc/NvmePassThroughLayout.h"
#include "wire/FirmwareSlotLog.h"

namespace velo::vroc {

inline constexpr std::uint32_t DISCOVERY_TIMEOUT_SECONDS = 40;
inline constexpr std::uint32_t FIRMWARE_TIMEOUT_SECONDS = 30;

inline constexpr std::uint32_t NVMERAID_PASS_THROUGH = nvmept::NVME_PASS_THROUGH_CONTROL_CODE;
inline constexpr std::uint32_t NVMERAID_GET_VOLUME_COUNT = 0xE0002014;
inline constexpr std::uint32_t NVMERAID_GET_VOLUME_INFO = 0xE0002018;
inline constexpr std::uint32_t NVMERAID_GET_VOLUME_MEMBERS = 0xE000201C;
inline constexpr std::uint32_t NVMERAID_GET_DISK_COUNT = 0xE0002028;
inline constexpr std::uint32_t NVMERAID_GET_DISK_LIST = 0xE000202C;

// The port paths probed: \\.\Scsi0: to \\.\Scsi15:.
inline constexpr int FIRST_PORT = 0;
inline constexpr int LAST_PORT = 15;
inline std::wstring portPath(int port) {
    return L"\\\\.\\Scsi" + std::to_wstring(port) + L":";
}

// --- Count queries: one dword after the header, 0 on input, the count on return ---
inline constexpr std::size_t COUNT_REQUEST_SIZE = 32;
inline constexpr std::size_t COUNT = srb::SIZE;

// --- Volume info: volume 1 asked for; the number of member disks at 128 ---
inline constexpr std::size_t VOLUME_INFO_SIZE = 132;
inline constexpr std::size_t VOLUME_INFO_VOLUME = srb::SIZE;
inline constexpr std::size_t VOLUME_INFO_MEMBER_COUNT = 128;
inline constexpr std::uint32_t FIRST_VOLUME = 1;

// --- Lists: 108-byte disk entries, with four bytes more than the entries need ---
inline constexpr std::size_t ENTRY_SIZE = 108;
inline constexpr std::size_t MEMBERS_VOLUME = srb::SIZE;
inline constexpr std::size_t MEMBERS_ROOM = srb::SIZE + 4;
inline constexpr std::size_t MEMBER_ENTRIES = 36;
inline constexpr std::size_t DISK_LIST_ROOM = srb::SIZE;
inline constexpr std::size_t DISK_ENTRIES = 32;
// A list is never larger than this; a count that asks for more cannot be served.
inline constexpr std::uint64_t LIST_SIZE_LIMIT = 1u << 20;

inline constexpr std::uint64_t membersRequestSize(std::uint64_t count) {
    return count * ENTRY_SIZE + MEMBER_ENTRIES + 4;
}
inline constexpr std::uint64_t diskListRequestSize(std::uint64_t count) {
    return count * ENTRY_SIZE + DISK_ENTRIES + 4;
}
static_assert(membersRequestSize(2) == 2 * 108 + 40);
static_assert(diskListRequestSize(3) == 3 * 108 + 36);

// VrocDiskEntry, relative to the entry.
inline constexpr std::size_t ENTRY_DISK_ID = 0;
inline constexpr std::size_t ENTRY_MODEL = 4;
inline constexpr std::size_t ENTRY_MODEL_SIZE = 40;
inline constexpr std::size_t ENTRY_SERIAL = 52;
inline constexpr std::size_t ENTRY_ADDRESS = 100;
static_assert(ENTRY_ADDRESS + 4 <= ENTRY_SIZE);

// A discovery query over the whole buffer.
inline void putQuery(ByteView request, std::uint32_t controlCode) {
    request.zero();
    srb::putHeader(request, nvmept::SIGNATURE, DISCOVERY_TIMEOUT_SECONDS, controlCode);
}

// --- The pass-through ---
inline constexpr std::size_t IDENTIFY_REQUEST_SIZE = 4252;
inline constexpr std::size_t IDENTIFY_DATA_SIZE = 4096;
inline constexpr std::uint8_t IDENTIFY_FILL = 0x55;
// Download: the chunk after the 152 bytes of the request and eight zero bytes behind it.
inline constexpr std::size_t DOWNLOAD_OVERHEAD = nvmept::DATA_BUFFER + 8;
// Download and commit ask for this much back: the request with a one-byte data area.
inline constexpr std::size_t FIRMWARE_REPLY_SIZE = nvmept::DATA_BUFFER + 1;
inline constexpr std::size_t COMMIT_REQUEST_SIZE = FIRMWARE_REPLY_SIZE;
static_assert(IDENTIFY_REQUEST_SIZE == nvmept::DATA_BUFFER + IDENTIFY_DATA_SIZE + 4);
static_assert(DOWNLOAD_OVERHEAD == 160 && COMMIT_REQUEST_SIZE == 153);

// The header and transfer fields of one pass-through to the disk diskId, on a buffer whose
// first DATA_BUFFER bytes are zero.
inline void putPassThroughFields(ByteView request, std::uint32_t timeoutSeconds,
                                 std::uint32_t diskId, std::uint32_t direction,
                                 std::uint32_t dataLength, std::uint32_t returnLength) {
    srb::putHeader(request, nvmept::SIGNATURE, timeoutSeconds, NVMERAID_PASS_THROUGH);
    request.putU32(srb::RETURN_CODE, diskId);
    request.putU32(nvmept::DIRECTION, direction);
    request.putU32(nvmept::QUEUE_ID, nvmept::ADMIN_QUEUE);
    request.putU32(nvmept::DATA_BUFFER_LEN, dataLength);
    request.putU32(nvmept::META_DATA_LEN, 0);
    request.putU32(nvmept::RETURN_BUFFER_LEN, returnLength);
}

// The same on a cleared buffer.
inline void putPassThrough(ByteView request, std::uint32_t timeoutSeconds, std::uint32_t diskId,
                           std::uint32_t direction, std::uint32_t dataLength,
                           std::uint32_t returnLength) {
    request.zero();
    putPassThroughFields(request, timeoutSeconds, diskId, direction, dataLength, returnLength);
}

// Identify Controller for diskId in an IDENTIFY_REQUEST_SIZE buffer, its data area filled with
// 0x55 so that a reply without data shows.
inline void putIdentifyRequest(ByteView request, std::uint32_t diskId) {
    putPassThrough(request, DISCOVERY_TIMEOUT_SECONDS, diskId, nvmept::DIRECTION_DEVICE_TO_HOST, 0,
                   static_cast<std::uint32_t>(IDENTIFY_REQUEST_SIZE));
    nvme::putCommand(request, nvmept::NVME_CMD, nvme::ADMIN_IDENTIFY, 0,
                     nvme::IDENTIFY_CNS_CONTROLLER, 0);
    for (std::size_t at = nvmept::DATA_BUFFER; at < nvmept::DATA_BUFFER + IDENTIFY_DATA_SIZE; ++at)
        request.putU8(at, IDENTIFY_FILL);
}

// Get Log Page of the firmware slot information for diskId, in a SLOT_LOG_REQUEST_SIZE buffer.
// The data area stays zero, so that a reply without data shows as no active slot.
inline constexpr std::size_t SLOT_LOG_REQUEST_SIZE =
    nvmept::DATA_BUFFER + nvme::FIRMWARE_SLOT_LOG_SIZE;
static_assert(SLOT_LOG_REQUEST_SIZE == 664);
inline void putFirmwareSlotLogRequest(ByteView request, std::uint32_t diskId) {
    putPassThrough(request, DISCOVERY_TIMEOUT_SECONDS, diskId, nvmept::DIRECTION_DEVICE_TO_HOST,
                   static_cast<std::uint32_t>(nvme::FIRMWARE_SLOT_LOG_SIZE),
                   static_cast<std::uint32_t>(SLOT_LOG_REQUEST_SIZE));
    nvme::putCommand(request, nvmept::NVME_CMD, nvme::ADMIN_GET_LOG_PAGE, nvme::NAMESPACE_ALL,
                     nvme::FIRMWARE_SLOT_LOG_DWORD10, 0);
}

// One Firmware Image Download over the whole buffer: piece stands at `offset` in the image.
// Length and the bytes sent cover the whole buffer, also when the piece is short. Only the
// bytes before the data area are cleared; the piece is copied once and the rest zeroed.
inline void putDownloadRequest(ByteView request, std::uint32_t diskId, std::uint64_t offset,
                               std::span<const std::uint8_t> piece) {
    const auto length = static_cast<std::uint32_t>(piece.size());
    request.zeroFirst(nvmept::DATA_BUFFER);
    putPassThroughFields(request, FIRMWARE_TIMEOUT_SECONDS, diskId,
                         nvmept::DIRECTION_HOST_TO_DEVICE, length,
                         static_cast<std::uint32_t>(FIRMWARE_REPLY_SIZE));
    nvme::putCommand(request, nvmept::NVME_CMD, nvme::ADMIN_FIRMWARE_IMAGE_DOWNLOAD, 0,
                     length / 4 - 1, static_cast<std::uint32_t>(offset / 4));
    request.putBytesThenZero(nvmept::DATA_BUFFER, piece);
}

// The field of a download request that tells the image offset, in dwords (CDW11).
inline constexpr std::size_t DOWNLOAD_DWORD_OFFSET = nvmept::NVME_CMD + nvme::COMMAND_CDW11;

// The Firmware Commit of the downloaded image to slot 2, active at the next reset.
inline void putCommitRequest(ByteView request, std::uint32_t diskId) {
    putPassThrough(request, FIRMWARE_TIMEOUT_SECONDS, diskId, nvmept::DIRECTION_HOST_TO_DEVICE, 0,
                   static_cast<std::uint32_t>(FIRMWARE_REPLY_SIZE));
    nvme::putCommand(
        request, nvmept::NVME_CMD, nvme::ADMIN_FIRMWARE_COMMIT, 0,
        nvme::firmwareCommitDword10(nvme::COMMIT_SLOT, nvme::COMMIT_ACTION_REPLACE_AND_ACTIVATE),
        0);
}

}  // namespace velo::vroc
