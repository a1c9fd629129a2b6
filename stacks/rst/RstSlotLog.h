// The firmware slot information log of a drive behind the Intel RST driver, through its NVMe
// pass-through on the controller's storage port.
#pragma once

#include <optional>

#include "core/DiskRecord.h"
#include "core/FirmwareSlotLog.h"
#include "platform/Io.h"

namespace velo {

// Asks the drive at the low byte of targetAddress. Nothing when the port does not open, the
// request fails, the driver answers a status other than 0 or the log is unusable. Prints
// nothing.
std::optional<FirmwareSlotLog> readRstFirmwareSlotLog(Io& io, const DiskRecord& disk);

}  // namespace velo
