// The supported maker's NVMe disks on the inbox driver.
#pragma once

#include <cstdint>
#include <string>

#include "core/DiskRecord.h"
#include "platform/Io.h"
#include "platform/Platform.h"

namespace velo {

// The maker's PCI vendor id, as it appears in the parent device's instance id.
inline constexpr std::wstring_view MAKER_VENDOR_ID = L"VEN_7A3C";

// "\\.\PHYSICALDRIVE<n>"
std::wstring physicalDrivePath(std::uint32_t deviceNumber);

// Appends one inbox candidate per present disk of the maker that names NVMe in a hardware id.
// False when the device set cannot be built or a matching disk cannot be opened.
bool enumeratePhysicalDrives(Io& io, DiskList& discovered, UnreachedList* unreached = nullptr);

}  // namespace velo
