// The target-disk information block that the RST and VROC transports print before they update
// a disk.
#pragma once

#include <string_view>

#include "discovery/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

enum class BannerDriver {
    Rst,   // " Driver : IRST Driver", with the RAID line
    Vroc,  // " Driver : VROC Driver", without it
};

void printTargetBanner(Io& io, const DiskRecord& disk, BannerDriver driver,
                       std::wstring_view updatedRevision);

}  // namespace velo
