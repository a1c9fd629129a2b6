// The Intel RAID controller's storage port and the disks behind it.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// True when the storage port of an Intel RST or RAID controller is present and opens;
// portPath then holds its interface path.
bool findIntelRaidPort(Io& io, std::wstring& portPath);
// Appends a RAID-volume or pass-through candidate for each disk behind an Intel controller.
bool enumerateIntelDisks(Io& io, const std::wstring& portPath, DiskList& discovered);
// The bus number in the location text of the device with this instance handle, or -1.
int readDiskBusNumber(Io& io, std::uint32_t devInst);

}  // namespace velo
