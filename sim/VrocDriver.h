// The Intel VROC driver as seen from a SCSI port (\\.\ScsiN:): the "NvmeRAID" volume and disk
// queries and the NVMe pass-through to the disks it knows by disk id, all sent with
// IOCTL_SCSI_MINIPORT.
#pragma once

#include <cstdint>
#include <span>

#include "platform/Platform.h"
#include "sim/Machine.h"

namespace velo::sim {

// Driver statuses written into ReturnCode. A pass-through that reached the drive answers 0 and
// carries the drive's own answer in its completion entry.
inline constexpr std::uint32_t NVME_IOCTL_SUCCESS = 0;
inline constexpr std::uint32_t NVME_IOCTL_INVALID_IOCTL_CODE = 1;
inline constexpr std::uint32_t NVME_IOCTL_INVALID_SIGNATURE = 2;
inline constexpr std::uint32_t NVME_IOCTL_INSUFFICIENT_IN_BUFFER = 3;
inline constexpr std::uint32_t NVME_IOCTL_INSUFFICIENT_OUT_BUFFER = 4;
inline constexpr std::uint32_t NVME_IOCTL_UNSUPPORTED_ADMIN_CMD = 5;
inline constexpr std::uint32_t NVME_IOCTL_UNSUPPORTED_NVM_CMD = 6;
inline constexpr std::uint32_t NVME_IOCTL_INVALID_DIRECTION_SPECIFIED = 11;
inline constexpr std::uint32_t NVME_IOCTL_INVALID_META_BUFFER_LENGTH = 12;
inline constexpr std::uint32_t NVME_IOCTL_INVALID_PATH_TARGET_ID = 14;

// Decodes one request to a SCSI port, validates it as the port and its driver do and answers
// it, filling the record's kind, disk id, status, completion and note. A port without the
// VROC driver fails every request with 1.
ControlResult scsiPortControl(ScsiPort& port, std::uint32_t controlCode,
                              std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                              std::uint32_t outputLength, RequestRecord& record);

}  // namespace velo::sim
