// Every simulated driver works as a METHOD_BUFFERED driver does: on a system buffer as long as
// the longer of input and output, holding the input; what it answers is copied back up to the
// output length.
//
// The Windows inbox NVMe driver stack as seen from a disk's device file: the disk class
// driver's device number, the storage port's protocol-specific identify query and the
// miniport firmware interface.
#pragma once

#include <cstdint>
#include <span>

#include "platform/Platform.h"
#include "sim/Machine.h"

namespace velo::sim {

// IOCTL_STORAGE_GET_DEVICE_NUMBER as the disk class driver answers it, for a disk of any
// stack; a disk without a device number fails it with 1.
ControlResult diskDeviceNumber(Disk& disk, std::span<std::uint8_t> buffer,
                               std::uint32_t outputLength, RequestRecord& record);

// Decodes one request to an inbox disk, validates it as the driver does and answers it,
// filling the record's kind, status and note.
ControlResult inboxDiskControl(Disk& disk, std::uint32_t controlCode,
                               std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                               std::uint32_t outputLength, RequestRecord& record);

}  // namespace velo::sim
