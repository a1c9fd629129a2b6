// The Intel RAID controller's storage port and the disks behind Intel controllers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

// True when the storage port of an Intel RST or RAID controller is present and opens;
// portPath then holds its interface path. A port that does not open is noted as unreached.
bool findIntelRaidPort(Io& io, std::wstring& portPath, UnreachedList* unreached = nullptr);
// Appends a RAID-volume (kind 1) or pass-through (kind 2) candidate for each disk behind an
// Intel controller, all reached through portPath. False when the disk set cannot be built or a
// pass-through disk cannot be opened.
bool enumerateIntelDisks(Io& io, const std::wstring& portPath, DiskList& discovered,
                         UnreachedList* unreached = nullptr);
// The bus number in the location text of the device with this instance handle, or -1.
int readDiskBusNumber(Io& io, std::uint32_t devInst);

// The number in a location text such as "Bus Number 3, Target Id 0, LUN 0": what follows the
// second blank before the first comma. -1 when the text is not of that shape or the number
// does not fit an int; 0 when no digit follows the blank.
int parseBusNumber(std::wstring_view locationText);

}  // namespace velo
