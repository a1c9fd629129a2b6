// CSMI GET RAID CONFIG (CSMI_SAS_RAID_CONFIG_BUFFER): the SRB_IO_CONTROL header, the RAID set
// asked for and its description, then one 136-byte entry per member drive.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "wire/SrbIoControl.h"

namespace velo::csmi {

using namespace std::string_view_literals;

inline constexpr std::string_view SIGNATURE = "CSMIARY\0"sv;
inline constexpr std::uint32_t TIMEOUT_SECONDS = 30;
inline constexpr std::uint32_t CC_CSMI_SAS_GET_RAID_CONFIG = 11;

inline constexpr std::size_t RAID_SET_INDEX = srb::SIZE;
inline constexpr std::size_t DRIVE_COUNT = 43;  // bDriveCount
inline constexpr std::size_t DRIVES = 64;
inline constexpr std::size_t DRIVE_ENTRY_SIZE = 136;
// The entry's eight-byte SAS address starts at 88; its third byte is the drive's path id
// behind the RST controller.
inline constexpr std::size_t ENTRY_SAS_ADDRESS = 88;
inline constexpr std::size_t ENTRY_PATH_ID = ENTRY_SAS_ADDRESS + 2;
static_assert(SIGNATURE.size() == srb::SIGNATURE_SIZE);

// The first request has room for two drive entries.
inline constexpr std::size_t REQUEST_SIZE = 336;
static_assert(REQUEST_SIZE == DRIVES + 2 * DRIVE_ENTRY_SIZE);

// A request with room for this many drive entries.
inline constexpr std::size_t requestSizeFor(std::uint8_t driveCount) {
    return DRIVES + DRIVE_ENTRY_SIZE * driveCount;
}

// How many whole drive entries a reply of this many bytes holds.
inline constexpr std::size_t entriesHeld(std::size_t replySize) {
    return replySize < DRIVES ? 0 : (replySize - DRIVES) / DRIVE_ENTRY_SIZE;
}

inline std::size_t entryAt(std::size_t entry) {
    return DRIVES + DRIVE_ENTRY_SIZE * entry;
}

inline std::size_t pathIdAt(std::size_t entry) {
    return entryAt(entry) + ENTRY_PATH_ID;
}

// A drive's entry carries at least its model and serial; an entry of zero bytes only (as a
// driver leaves the room past its real members) describes no drive.
inline bool describesDrive(const ByteView& reply, std::size_t entry) {
    const auto bytes = reply.slice(entryAt(entry), DRIVE_ENTRY_SIZE);
    return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
}

// GET RAID CONFIG for RAID set 0 over the whole buffer.
inline void putRequest(ByteView request) {
    request.zero();
    srb::putHeader(request, SIGNATURE, TIMEOUT_SECONDS, CC_CSMI_SAS_GET_RAID_CONFIG);
    request.putU32(RAID_SET_INDEX, 0);
}

}  // namespace velo::csmi
