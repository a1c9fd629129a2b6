#include "stacks/rst/IntelController.h"

#include <climits>

#include "core/DeviceProperties.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace velo {

namespace {

constexpr std::wstring_view INTEL_VENDOR_ID = L"VEN_8086";
constexpr std::wstring_view BUS_NUMBER_LABEL = L"Bus Number ";

bool contains(std::wstring_view text, std::wstring_view part) {
    return text.find(part) != std::wstring_view::npos;
}

// The driver of an Intel RAID controller's port names itself an Intel controller of the RST
// or RAID kind; the words are matched in exactly this case.
bool isIntelRaidDescription(std::wstring_view description) {
    return contains(description, L"Intel") && contains(description, L"Controller") &&
           (contains(description, L"RST") || contains(description, L"RAID"));
}

bool isRaidVolume(std::wstring_view instanceId) {
    return contains(instanceId, L"VEN_INTEL") && contains(instanceId, L"PROD_RAID");
}

}  // namespace

bool findIntelRaidPort(Io& io, std::wstring& portPath, UnreachedList* unreached) {
    auto ports =
        io.platform.deviceInfoSet(STORAGE_PORT_INTERFACE_CLASS, SET_PRESENT | SET_DEVICE_INTERFACE);
    if (!ports)
        return false;

    for (std::uint32_t index = 0; ports->deviceAt(index); ++index) {
        DeviceInterface port;
        const InterfaceLookup lookup =
            ports->interfaceAt(STORAGE_PORT_INTERFACE_CLASS, index, port);
        if (lookup == InterfaceLookup::Absent)
            continue;
        // A port whose detail cannot be read ends the search; later ports are not examined.
        if (lookup == InterfaceLookup::DetailFailed)
            return false;
        if (!contains(upperAscii(port.devicePath), INTEL_VENDOR_ID))
            continue;
        std::wstring description;
        if (!readDeviceTextProperty(*ports, port.member, PROPERTY_DRIVER_DESC, description) ||
            !isIntelRaidDescription(description)) {
            continue;
        }

        // The first matching port is the one; it must open, and only this one is tried.
        auto opened = io.platform.openDevice(port.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                             OPEN_FLAGS_NORMAL_OVERLAPPED);
        if (!opened.file) {
            noteUnreached(unreached, DriverKind::RstRaid, port.devicePath,
                          UnreachedReason::OpenFailed, opened.error);
            return false;
        }
        portPath = port.devicePath;
        std::wstring instanceId;
        return readDeviceTextProperty(*ports, port.member, PROPERTY_INSTANCE_ID, instanceId);
    }
    return false;
}

bool enumerateIntelDisks(Io& io, const std::wstring& portPath, DiskList& discovered,
                         UnreachedList* unreached) {
    auto disks =
        io.platform.deviceInfoSet(DISK_INTERFACE_CLASS, SET_PRESENT | SET_DEVICE_INTERFACE);
    if (!disks)
        return false;

    for (std::uint32_t index = 0; disks->deviceAt(index); ++index) {
        std::wstring parent;
        if (!readDeviceTextProperty(*disks, index, PROPERTY_PARENT, parent) ||
            !contains(parent, INTEL_VENDOR_ID)) {
            continue;
        }
        std::wstring instanceId;
        if (!readDeviceTextProperty(*disks, index, PROPERTY_INSTANCE_ID, instanceId))
            continue;
        if (isRaidVolume(instanceId)) {
            discovered.push_back(makeCandidate(portPath, DriverKind::RstRaid));
            continue;
        }

        DeviceInterface disk;
        if (disks->interfaceAt(DISK_INTERFACE_CLASS, index, disk) != InterfaceLookup::Found)
            continue;
        // The disk is opened only to learn that it can be; one that cannot ends the walk.
        auto opened = io.platform.openDevice(disk.devicePath, ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                             OPEN_FLAGS_NONE);
        if (!opened.file) {
            noteUnreached(unreached, DriverKind::RstPassThrough, disk.devicePath,
                          UnreachedReason::OpenFailed, opened.error);
            return false;
        }
        const int busNumber = readDiskBusNumber(io, disk.devInst);
        discovered.push_back(makeCandidate(portPath, DriverKind::RstPassThrough, busNumber));
    }
    return true;
}

int readDiskBusNumber(Io& io, std::uint32_t devInst) {
    auto devices = io.platform.deviceInfoSet(DISK_INTERFACE_CLASS, SET_PRESENT | SET_ALL_CLASSES);
    if (!devices)
        return -1;
    for (std::uint32_t index = 0;; ++index) {
        const auto found = devices->deviceAt(index);
        if (!found)
            return -1;
        if (*found != devInst)
            continue;
        std::wstring location;
        if (!readDeviceTextProperty(*devices, index, PROPERTY_LOCATION_INFO, location) ||
            !contains(location, BUS_NUMBER_LABEL)) {
            return -1;
        }
        return parseBusNumber(location);
    }
}

int parseBusNumber(std::wstring_view locationText) {
    // "Bus Number 3, Target Id 0, LUN 0": the number stands after the second blank of the
    // text before the first comma.
    const std::size_t comma = locationText.find(L',');
    if (comma == std::wstring_view::npos)
        return -1;
    const std::wstring_view head = locationText.substr(0, comma);
    const std::size_t first = head.find(L' ');
    if (first == std::wstring_view::npos)
        return -1;
    const std::size_t second = head.find(L' ', first + 1);
    if (second == std::wstring_view::npos)
        return -1;

    std::size_t at = head.find_first_not_of(L' ', second + 1);
    long long number = 0;
    for (; at < head.size() && head[at] >= L'0' && head[at] <= L'9'; ++at) {
        number = number * 10 + (head[at] - L'0');
        if (number > INT_MAX)
            return -1;
    }
    return static_cast<int>(number);
}

}  // namespace velo
