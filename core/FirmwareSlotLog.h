// What a drive's firmware slot information log says, as every stack reads it, and the question
// a run asks of it: does an image VELO installs wait for the drive's next reset?
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "wire/ByteView.h"
#include "wire/FirmwareSlotLog.h"

namespace velo {

struct FirmwareSlotLog {
    std::uint8_t activeSlot = 0;     // 1 to 7
    std::uint8_t nextResetSlot = 0;  // 1 to 7; 0 when the next reset activates no other slot
    // The revision in slot n at n - 1, its bytes up to the first zero byte (not trimmed); empty
    // for an empty slot.
    std::array<std::wstring, nvme::FIRMWARE_SLOTS> revisions;
};

// The log from its 512 bytes; nothing when they are fewer or the Active Firmware Info is not
// one a drive reports (no active slot, or reserved bits set).
std::optional<FirmwareSlotLog> decodeFirmwareSlotLog(const ByteView& page);

// The installed revision that waits in the slot the next reset activates; nothing when no slot
// waits or the waiting slot holds none of them. Compared exactly, as revisions select images.
std::optional<std::wstring> pendingInstalledRevision(const FirmwareSlotLog& log,
                                                     std::span<const std::wstring> installed);

}  // namespace velo
