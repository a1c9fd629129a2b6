#include "stacks/inbox/PhysicalDrives.h"

#include <array>

#include "core/DeviceProperties.h"
#include "stacks/inbox/StorageQueryLayout.h"
#include "wire/SrbIoControl.h"

namespace velo {

std::wstring physicalDrivePath(std::uint32_t deviceNumber) {
    return L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(deviceNumber);
}

namespace {

enum class IdOutcome { NextId, TurnEnded, OpenFailed };

// One NVMe hardware id of a matching disk. Once the disk's interface opened, its turn ends
// whether or not it answered with its device number.
IdOutcome tryHardwareId(Io& io, DeviceInfoSet& disks, std::uint32_t index, DiskList& discovered,
                        UnreachedList* unreached) {
    std::wstring instanceId;
    if (!readDeviceTextProperty(disks, index, PROPERTY_INSTANCE_ID, instanceId)) {
        return IdOutcome::NextId;
    }
    DeviceInterface diskInterface;
    if (disks.interfaceAt(DISK_INTERFACE_CLASS, index, diskInterface) != InterfaceLookup::Found) {
        return IdOutcome::NextId;
    }
    auto opened = io.platform.openDevice(diskInterface.devicePath, ACCESS_READ_WRITE,
                                         SHARE_READ_WRITE, OPEN_FLAGS_NONE);
    if (!opened.file) {
        noteUnreached(unreached, DriverKind::Inbox, diskInterface.devicePath,
                      UnreachedReason::OpenFailed, opened.error);
        return IdOutcome::OpenFailed;
    }

    std::array<std::uint8_t, query::DEVICE_NUMBER_SIZE> reply{};
    auto result = opened.file->control(srb::IOCTL_STORAGE_GET_DEVICE_NUMBER, reply, 0);
    if (result.ok && result.bytesReturned >= query::DEVICE_NUMBER_SIZE) {
        const std::uint32_t deviceNumber = ByteView(reply).u32(query::DEVICE_NUMBER);
        DiskRecord candidate = makeCandidate(physicalDrivePath(deviceNumber), DriverKind::Inbox);
        candidate.deviceNumber = deviceNumber;
        discovered.push_back(std::move(candidate));
    } else {
        // The disk opened but named no device number: no physical drive stands behind it.
        noteUnreached(unreached, DriverKind::Inbox, diskInterface.devicePath,
                      UnreachedReason::NoDrive,
                      result.ok ? std::nullopt : std::optional<std::uint32_t>(result.error));
    }
    return IdOutcome::TurnEnded;
}

}  // namespace

bool enumeratePhysicalDrives(Io& io, DiskList& discovered, UnreachedList* unreached) {
    auto disks =
        io.platform.deviceInfoSet(DISK_INTERFACE_CLASS, SET_PRESENT | SET_DEVICE_INTERFACE);
    if (!disks)
        return false;

    for (std::uint32_t index = 0; disks->deviceAt(index); ++index) {
        std::wstring parent;
        if (!readDeviceTextProperty(*disks, index, PROPERTY_PARENT, parent) ||
            parent.find(MAKER_VENDOR_ID) == std::wstring::npos) {
            continue;
        }
        auto hardwareIds = disks->hardwareIds(index);
        if (!hardwareIds)
            continue;
        for (const std::wstring& hardwareId : *hardwareIds) {
            if (hardwareId.find(L"NVMe") == std::wstring::npos)
                continue;
            const IdOutcome outcome = tryHardwareId(io, *disks, index, discovered, unreached);
            // A matching disk that cannot be opened ends the whole walk.
            if (outcome == IdOutcome::OpenFailed)
                return false;
            if (outcome == IdOutcome::TurnEnded)
                break;
        }
    }
    return true;
}

}  // namespace velo
