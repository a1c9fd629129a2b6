// Firmware download and activation through the inbox driver's miniport firmware requests.
#pragma once

#include <cstdint>

#include "core/DiskRecord.h"
#include "platform/Io.h"
#include "core/FirmwareChunks.h"

namespace velo {

inline constexpr int INBOX_UPDATED = 0;
inline constexpr int INBOX_REBOOT_REQUIRED = 1602;
inline constexpr int INBOX_NOT_ACCEPTED = 1;  // no upgrade support, no writable slot, refused
inline constexpr int INBOX_REQUEST_FAILED = 5;

// Installs the image on the disk: slot information, download in chunks of the disk's
// granularity, activation. The result code, with the failure when there is one.
UpdateOutcome inboxUpdateDisk(Io& io, const DiskRecord& disk, const UpdateImage& image);

}  // namespace velo
