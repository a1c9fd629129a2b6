// The NVMe Firmware Slot Information log page (log identifier 03h): which slot runs, which one
// the next reset activates, and the revision each of the seven slots holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/NvmeCommands.h"

namespace velo::nvme {

inline constexpr std::uint8_t LOG_FIRMWARE_SLOT_INFO = 0x03;
inline constexpr std::size_t FIRMWARE_SLOT_LOG_SIZE = 512;

// Active Firmware Info: bits 2..0 the slot running now, bits 6..4 the slot activated at the
// next reset (0 when none); bits 3 and 7 are reserved.
inline constexpr std::size_t SLOT_LOG_AFI = 0;
inline constexpr std::uint8_t AFI_SLOT_MASK = 0x07;
inline constexpr unsigned AFI_NEXT_RESET_SHIFT = 4;
inline constexpr std::uint8_t AFI_RESERVED_BITS = 0x88;

// Firmware Revision for Slot n (FRSn), n = 1 to 7: eight ASCII bytes at 8 + 8 * (n - 1); an
// empty slot reads as zero bytes.
inline constexpr std::size_t SLOT_LOG_REVISIONS = 8;
inline constexpr std::size_t SLOT_LOG_REVISION_SIZE = 8;
inline constexpr std::size_t FIRMWARE_SLOTS = 7;
static_assert(SLOT_LOG_REVISIONS + FIRMWARE_SLOTS * SLOT_LOG_REVISION_SIZE <=
              FIRMWARE_SLOT_LOG_SIZE);

// Get Log Page for the whole log.
inline constexpr std::uint32_t FIRMWARE_SLOT_LOG_DWORD10 =
    getLogPageDword10(LOG_FIRMWARE_SLOT_INFO, FIRMWARE_SLOT_LOG_SIZE);
static_assert(FIRMWARE_SLOT_LOG_DWORD10 == 0x007F0003);

}  // namespace velo::nvme
