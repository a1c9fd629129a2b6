// The Intel RST driver as seen from its controller's storage port: NVMe pass-through
// ("IntelNvm"), firmware download and activate ("IntelFw "), and the CSMI RAID configuration
// ("CSMIARY"), all sent with IOCTL_SCSI_MINIPORT. Also the disks Windows shows behind the
// controller, which answer only their device number.
#pragma once

#include <cstdint>
#include <span>

#include "platform/Platform.h"
#include "sim/Machine.h"

namespace velo::sim {

// Driver statuses written into ReturnCode. The firmware requests also answer the drive's own
// statuses (FIRMWARE_STATUS_*: 3, 6 invalid slot, 7 invalid image, 0x20 restart needed).
inline constexpr std::uint32_t RST_STATUS_SUCCESS = 0;
inline constexpr std::uint32_t RST_STATUS_NO_DRIVE = 1;          // nothing at that path id
inline constexpr std::uint32_t RST_STATUS_UNKNOWN_FUNCTION = 2;  // or an NVMe command not served
inline constexpr std::uint32_t RST_STATUS_INVALID_PARAMETER = 3;
inline constexpr std::uint32_t CSMI_SAS_STATUS_INVALID_PARAMETER = 3;
inline constexpr std::uint32_t CSMI_SAS_RAID_SET_OUT_OF_RANGE = 1000;

// Decodes one request to an RST storage port, validates it as the driver does and answers it,
// filling the record's kind, path id, status and note.
ControlResult rstPortControl(RstController& port, std::uint32_t controlCode,
                             std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                             std::uint32_t outputLength, RequestRecord& record);

// A disk behind an RST controller: IOCTL_STORAGE_GET_DEVICE_NUMBER is answered, every other
// request fails with 1.
ControlResult rstDiskControl(Disk& disk, std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                             std::uint32_t outputLength, RequestRecord& record);

}  // namespace velo::sim
