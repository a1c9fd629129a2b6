#include "stacks/inbox/InboxSlotLog.h"

#include <vector>

#include "platform/Platform.h"
#include "stacks/inbox/StorageQueryLayout.h"
#include "wire/SrbIoControl.h"

namespace velo {

std::optional<FirmwareSlotLog> readInboxFirmwareSlotLog(Io& io, const DiskRecord& disk) {
    auto opened = io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file)
        return std::nullopt;
    std::vector<std::uint8_t> buffer(query::SLOT_LOG_REQUEST_SIZE);
    ByteView reply(buffer);
    query::putFirmwareSlotLogQuery(reply);
    if (!opened.file
             ->control(srb::IOCTL_STORAGE_QUERY_PROPERTY, buffer,
                       static_cast<std::uint32_t>(buffer.size()))
             .ok)
        return std::nullopt;

    // The log stands where the driver's descriptor says, and must lie wholly in the buffer.
    if (reply.u32(query::DESCRIPTOR_VERSION) != query::DESCRIPTOR_LENGTH ||
        reply.u32(query::DESCRIPTOR_SIZE) != query::DESCRIPTOR_LENGTH)
        return std::nullopt;
    const std::uint64_t offset = reply.u32(query::PROTOCOL_DATA_OFFSET);
    const std::uint32_t length = reply.u32(query::PROTOCOL_DATA_LENGTH);
    const std::uint64_t at = query::DESCRIPTOR_PROTOCOL_DATA + offset;
    if (offset < query::PROTOCOL_SPECIFIC_DATA_SIZE || length < nvme::FIRMWARE_SLOT_LOG_SIZE ||
        !reply.fits(at, nvme::FIRMWARE_SLOT_LOG_SIZE))
        return std::nullopt;
    return decodeFirmwareSlotLog(
        ByteView(reply.slice(static_cast<std::size_t>(at), nvme::FIRMWARE_SLOT_LOG_SIZE)));
}

}  // namespace velo
