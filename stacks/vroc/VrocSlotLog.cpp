#include "stacks/vroc/VrocSlotLog.h"

#include <vector>

#include "platform/Platform.h"
#include "stacks/vroc/VrocLayout.h"

namespace velo {

std::optional<FirmwareSlotLog> readVrocFirmwareSlotLog(Io& io, const DiskRecord& disk,
                                                       std::int32_t vrocPort) {
    if (vrocPort < vroc::FIRST_PORT || vrocPort > vroc::LAST_PORT)
        return std::nullopt;
    std::vector<std::uint8_t> buffer(vroc::SLOT_LOG_REQUEST_SIZE);
    ByteView reply(buffer);
    vroc::putFirmwareSlotLogRequest(reply, disk.vrocDiskId);
    auto opened = io.platform.openDevice(vroc::portPath(vrocPort), ACCESS_READ_WRITE,
                                         SHARE_READ_WRITE, OPEN_FLAGS_NORMAL);
    if (!opened.file || !srb::sendWhole(*opened.file, buffer).ok || srb::returnCode(reply) != 0 ||
        nvme::completionFailed(reply.u32(nvmept::CPL_ENTRY_DW3)))
        return std::nullopt;
    return decodeFirmwareSlotLog(
        ByteView(reply.slice(nvmept::DATA_BUFFER, nvme::FIRMWARE_SLOT_LOG_SIZE)));
}

}  // namespace velo
