#include "core/FirmwareSlotLog.h"

#include <algorithm>

#include "platform/Text.h"

namespace velo {

std::optional<FirmwareSlotLog> decodeFirmwareSlotLog(const ByteView& page) {
    if (!page.fits(0, nvme::FIRMWARE_SLOT_LOG_SIZE))
        return std::nullopt;
    const std::uint8_t afi = page.u8(nvme::SLOT_LOG_AFI);
    FirmwareSlotLog log;
    log.activeSlot = afi & nvme::AFI_SLOT_MASK;
    log.nextResetSlot = (afi >> nvme::AFI_NEXT_RESET_SHIFT) & nvme::AFI_SLOT_MASK;
    // A zero page, or a fill pattern, is what an answer without data leaves.
    if (log.activeSlot == 0 || (afi & nvme::AFI_RESERVED_BITS) != 0)
        return std::nullopt;
    for (std::size_t slot = 0; slot < nvme::FIRMWARE_SLOTS; ++slot) {
        const std::string_view field =
            page.text(nvme::SLOT_LOG_REVISIONS + slot * nvme::SLOT_LOG_REVISION_SIZE,
                      nvme::SLOT_LOG_REVISION_SIZE);
        log.revisions[slot] = widenBytes(field.substr(0, field.find('\0')));
    }
    return log;
}

std::optional<std::wstring> pendingInstalledRevision(const FirmwareSlotLog& log,
                                                     std::span<const std::wstring> installed) {
    if (log.nextResetSlot == 0)
        return std::nullopt;
    const std::wstring& waiting = log.revisions[log.nextResetSlot - 1];
    if (waiting.empty() ||
        std::find(installed.begin(), installed.end(), waiting) == installed.end())
        return std::nullopt;
    return waiting;
}

}  // namespace velo
