// The firmware slot information log of a disk on the inbox NVMe driver, through the storage
// protocol query.
#pragma once

#include <optional>

#include "core/DiskRecord.h"
#include "core/FirmwareSlotLog.h"
#include "platform/Io.h"

namespace velo {

// Nothing when the disk does not open, the query fails or its answer is unusable. Prints
// nothing.
std::optional<FirmwareSlotLog> readInboxFirmwareSlotLog(Io& io, const DiskRecord& disk);

}  // namespace velo
