// Identify, firmware download and activation of disks behind the Intel RST driver, all sent to
// the controller's storage port and addressed by the drive's path id.
#pragma once

#include <cstdint>
#include <span>

#include "core/DiskRecord.h"
#include "platform/Io.h"
#include "platform/Platform.h"
#include "core/FirmwareChunks.h"

namespace velo {

inline constexpr int RST_IDENTIFIED = 0;
inline constexpr int RST_IDENTIFY_FAILED = 5;  // the pass-through request failed
inline constexpr int RST_NO_DEVICE = 8;        // the device did not open

inline constexpr int RST_UPDATED = 0;
inline constexpr int RST_FAILED = 1;
inline constexpr int RST_NO_HANDLE = 5;
inline constexpr int RST_REBOOT_REQUIRED = 1602;

// Reads the drive's identity through the NVMe pass-through and appends the record to targets.
int rstIdentify(Io& io, DiskRecord record, DiskList& targets, UnreachedList* unreached = nullptr);
// Banner, download, activation: 0 updated, 1602 activation needs a restart, 1 or 5 failed,
// with the failure.
UpdateOutcome rstUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image);
// Sends the image in chunks of the disk's granularity: 0 every chunk accepted, 1 failed.
UpdateOutcome rstDownloadFirmware(Io& io, DeviceFile& device, const DiskRecord& disk,
                                  std::span<const std::uint8_t> image);
// Activates the downloaded image in slot 2: 0, 1602 or 1.
UpdateOutcome rstActivateFirmware(Io& io, DeviceFile& device, std::uint8_t pathId);

}  // namespace velo
