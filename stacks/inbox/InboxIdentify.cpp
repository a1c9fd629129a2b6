#include "stacks/inbox/InboxIdentify.h"

#include <vector>

#include "platform/Console.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "wire/NvmeIdentify.h"
#include "wire/SrbIoControl.h"
#include "stacks/inbox/StorageQueryLayout.h"

namespace velo {

namespace {

// The field's bytes up to its first zero byte, each widened to one character; not trimmed.
std::wstring identifyText(const ByteView& identify, std::size_t offset, std::size_t size) {
    std::string_view field = identify.text(offset, size);
    return widenBytes(field.substr(0, field.find('\0')));
}

}  // namespace

int identifyInboxDisk(Io& io, DiskRecord disk, DiskList& targets, UnreachedList* unreached) {
    auto opened = io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                         OPEN_FLAGS_NONE);
    if (!opened.file) {
        io.console.narrow << "  [ERROR] Failed to get disk handle: 0x" << Hex{opened.error}
                          << lineEnd << lineEnd;
        noteUnreached(unreached, DriverKind::Inbox, disk.devicePath, UnreachedReason::OpenFailed,
                      opened.error);
        return 2;
    }

    std::vector<std::uint8_t> buffer(query::REQUEST_SIZE);
    ByteView request(buffer);
    query::putIdentifyControllerQuery(request);
    auto result = opened.file->control(srb::IOCTL_STORAGE_QUERY_PROPERTY, buffer,
                                       static_cast<std::uint32_t>(buffer.size()));
    if (!result.ok) {
        noteUnreached(unreached, DriverKind::Inbox, disk.devicePath,
                      UnreachedReason::IdentifyFailed, result.error);
        return 5;
    }

    ByteView identify(request.slice(query::IDENTIFY_DATA, query::IDENTIFY_DATA_SIZE));
    disk.serialNumber += identifyText(identify, nvme::SERIAL_NUMBER, nvme::SERIAL_NUMBER_SIZE);
    disk.modelNumber += identifyText(identify, nvme::MODEL_NUMBER, nvme::MODEL_NUMBER_SIZE);
    disk.firmwareRevision +=
        identifyText(identify, nvme::FIRMWARE_REVISION, nvme::FIRMWARE_REVISION_SIZE);
    disk.updateGranularity = nvme::updateGranularity(identify);
    disk.targetAddress = -1;
    targets.push_back(disk);
    return 0;
}

}  // namespace velo
