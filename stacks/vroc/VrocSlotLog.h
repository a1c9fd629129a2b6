// The firmware slot information log of a disk behind the Intel VROC driver, through the
// driver's NVMe pass-through on the SCSI port where discovery found it.
#pragma once

#include <cstdint>
#include <optional>

#include "core/DiskRecord.h"
#include "core/FirmwareSlotLog.h"
#include "platform/Io.h"

namespace velo {

// Asks the disk vrocDiskId on \\.\Scsi<vrocPort>:. Nothing when the port is not one of 0 to
// 15 or does not open, the request fails, the driver answers a status other than 0, the
// completion carries an NVMe status or the log is unusable. Prints nothing.
std::optional<FirmwareSlotLog> readVrocFirmwareSlotLog(Io& io, const DiskRecord& disk,
                                                       std::int32_t vrocPort);

}  // namespace velo
