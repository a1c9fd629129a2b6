#include "stacks/rst/RstSlotLog.h"

#include <vector>

#include "platform/Platform.h"
#include "stacks/rst/RstLayout.h"

namespace velo {

std::optional<FirmwareSlotLog> readRstFirmwareSlotLog(Io& io, const DiskRecord& disk) {
    std::vector<std::uint8_t> buffer(rst::SLOT_LOG_REQUEST_SIZE);
    ByteView reply(buffer);
    rst::putFirmwareSlotLogRequest(reply, rst::pathIdOf(disk.targetAddress));
    auto opened = io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file || !srb::sendWhole(*opened.file, buffer).ok ||
        srb::returnCode(reply) != storagefw::STATUS_SUCCESS)
        return std::nullopt;
    return decodeFirmwareSlotLog(
        ByteView(reply.slice(rst::PASS_THROUGH_DATA, nvme::FIRMWARE_SLOT_LOG_SIZE)));
}

}  // namespace velo
