// The NVMe admin commands VELO sends through the pass-through requests, as the 64-byte
// submission entry (command dwords 0 to 15) carries them, and the completion entry that
// comes back.
#pragma once

#include <cstdint>

#include "wire/ByteView.h"

namespace velo::nvme {

// Submission entry: opcode in bits 7..0 of command dword 0, then the namespace id, and
// command dwords 10 and 11 at bytes 40 and 44.
inline constexpr std::size_t COMMAND_SIZE = 64;
inline constexpr std::size_t COMMAND_OPCODE = 0;
inline constexpr std::size_t COMMAND_NSID = 4;
inline constexpr std::size_t COMMAND_CDW10 = 40;
inline constexpr std::size_t COMMAND_CDW11 = 44;

inline constexpr std::uint8_t ADMIN_GET_LOG_PAGE = 0x02;
inline constexpr std::uint8_t ADMIN_IDENTIFY = 0x06;
inline constexpr std::uint8_t ADMIN_FIRMWARE_COMMIT = 0x10;
inline constexpr std::uint8_t ADMIN_FIRMWARE_IMAGE_DOWNLOAD = 0x11;

// Identify command dword 10: CNS 1 asks for the controller data.
inline constexpr std::uint32_t IDENTIFY_CNS_CONTROLLER = 1;

// The namespace id of a log that belongs to the controller rather than to one namespace.
inline constexpr std::uint32_t NAMESPACE_ALL = 0xFFFFFFFF;

// Get Log Page command dword 10: the log identifier in bits 7..0 and the number of dwords to
// read minus 1 in bits 31..16 (NUMDL; the upper half, NUMDU in dword 11, stays 0 for logs up
// to 256 KiB).
inline constexpr std::uint32_t getLogPageDword10(std::uint8_t logId, std::uint32_t bytes) {
    return logId | ((bytes / 4 - 1) & 0xFFFF) << 16;
}

// Firmware Commit command dword 10: firmware slot in bits 2..0, commit action in bits 5..3.
// VELO commits to slot 2 with action 1 (replace the image in the slot and activate it at the
// next reset).
inline constexpr std::uint32_t COMMIT_SLOT = 2;
inline constexpr std::uint32_t COMMIT_ACTION_REPLACE_AND_ACTIVATE = 1;
inline constexpr std::uint32_t firmwareCommitDword10(std::uint32_t slot, std::uint32_t action) {
    return (slot & 0x7) | (action & 0x7) << 3;
}
static_assert(firmwareCommitDword10(COMMIT_SLOT, COMMIT_ACTION_REPLACE_AND_ACTIVATE) == 0xA);

// Completion entry: four dwords; dword 3 holds the phase tag in bit 16 and the status field
// (status code, status code type and the flags above them) in bits 31..17.
inline constexpr std::size_t COMPLETION_SIZE = 16;
inline constexpr std::size_t COMPLETION_DW3 = 12;
inline constexpr bool completionFailed(std::uint32_t dword3) {
    return dword3 >= 0x20000;
}
inline constexpr std::uint32_t completionStatus(std::uint32_t dword3) {
    return dword3 >> 17;
}

// Writes one admin command at `at`; the other command dwords stay as they are (zero).
inline void putCommand(ByteView request, std::size_t at, std::uint8_t opcode,
                       std::uint32_t namespaceId, std::uint32_t dword10, std::uint32_t dword11) {
    request.putU8(at + COMMAND_OPCODE, opcode);
    request.putU32(at + COMMAND_NSID, namespaceId);
    request.putU32(at + COMMAND_CDW10, dword10);
    request.putU32(at + COMMAND_CDW11, dword11);
}

}  // namespace velo::nvme
