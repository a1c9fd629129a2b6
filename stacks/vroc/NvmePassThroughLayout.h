// NVME_PASS_THROUGH_IOCTL, the VROC driver's NVMe pass-through (signature "NvmeRAID"): the
// SRB_IO_CONTROL header, six vendor dwords, the submission entry, the completion entry the
// driver writes, then the transfer fields and the data area.
#pragma once

#include <cstdint>
#include <string_view>

#include "wire/NvmeCommands.h"
#include "wire/SrbIoControl.h"

namespace velo::nvmept {

inline constexpr std::string_view SIGNATURE = "NvmeRAID";
inline constexpr std::uint32_t NVME_PASS_THROUGH_CONTROL_CODE = 0xE0002000;

inline constexpr std::size_t VENDOR_SPECIFIC = srb::SIZE;
inline constexpr std::size_t NVME_CMD = VENDOR_SPECIFIC + 6 * 4;
inline constexpr std::size_t CPL_ENTRY = NVME_CMD + nvme::COMMAND_SIZE;
inline constexpr std::size_t CPL_ENTRY_DW3 = CPL_ENTRY + nvme::COMPLETION_DW3;
inline constexpr std::size_t DIRECTION = CPL_ENTRY + nvme::COMPLETION_SIZE;
inline constexpr std::size_t QUEUE_ID = DIRECTION + 4;
inline constexpr std::size_t DATA_BUFFER_LEN = QUEUE_ID + 4;
inline constexpr std::size_t META_DATA_LEN = DATA_BUFFER_LEN + 4;
inline constexpr std::size_t RETURN_BUFFER_LEN = META_DATA_LEN + 4;
inline constexpr std::size_t DATA_BUFFER = RETURN_BUFFER_LEN + 4;

inline constexpr std::uint32_t DIRECTION_HOST_TO_DEVICE = 1;
inline constexpr std::uint32_t DIRECTION_DEVICE_TO_HOST = 2;
inline constexpr std::uint32_t ADMIN_QUEUE = 0;

static_assert(NVME_CMD == 52);
static_assert(NVME_CMD + nvme::COMMAND_CDW10 == 92);
static_assert(CPL_ENTRY == 116 && CPL_ENTRY_DW3 == 128);
static_assert(DIRECTION == 132 && RETURN_BUFFER_LEN == 148);
static_assert(DATA_BUFFER == 152);

}  // namespace velo::nvmept
