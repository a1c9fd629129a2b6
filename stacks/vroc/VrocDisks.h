// Disks behind the Intel VROC driver: discovery on the SCSI ports, firmware download and commit.
#pragma once

#include <cstdint>
#include <span>

#include "core/DiskRecord.h"
#include "platform/Io.h"
#include "platform/Platform.h"
#include "core/FirmwareChunks.h"

namespace velo {

inline constexpr int VROC_DISCOVERED = 0;
inline constexpr int VROC_NO_BUFFER = -1;  // a list larger than any buffer VELO sizes

inline constexpr int VROC_UPDATED = 0;
inline constexpr int VROC_FAILED = 1;
inline constexpr int VROC_COMPLETION_FAILED = 5;  // the commit came back with an NVMe status
inline constexpr int VROC_NO_HANDLE = 5;
inline constexpr int VROC_REBOOT_REQUIRED = 1602;

// Probes \\.\Scsi0: to \\.\Scsi15: for the VROC driver's volumes, else its non-RAID disks, on
// the first port that reports any; identifies each and appends it to targets with record as
// the template. vrocPort then holds that port. 0, or -1 when a list is too large to ask for.
int vrocDiscover(Io& io, DiskRecord record, DiskList& targets, std::int32_t& vrocPort);
// Banner, download, commit: 1602 when the drive took the image for the next reset, 1 or 5
// failed, with the failure.
UpdateOutcome vrocUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image,
                             std::int32_t vrocPort);
// Sends the image as Firmware Image Download commands: 0 every chunk accepted, 1 failed.
UpdateOutcome vrocDownloadFirmware(Io& io, DeviceFile& port, const DiskRecord& disk,
                                   std::span<const std::uint8_t> image);
// Commits the downloaded image to slot 2 for the next reset: 1602, 1 or 5.
UpdateOutcome vrocActivateFirmware(Io& io, DeviceFile& port, std::uint32_t vrocDiskId);

}  // namespace velo
