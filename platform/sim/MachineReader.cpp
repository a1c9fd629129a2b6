#include "platform/sim/MachineReader.h"

#include "platform/Text.h"

namespace velo::sim {

namespace {

constexpr std::wstring_view PHYSICAL_DRIVE_PREFIX = L"\\\\.\\PHYSICALDRIVE";

}  // namespace

std::wstring interfacePathFor(const std::wstring& instanceId, std::wstring_view classText) {
    std::wstring path = L"\\\\?\\";
    for (wchar_t c : lowerAscii(instanceId))
        path += (c == L'\\') ? L'#' : c;
    path += L'#';
    path += classText;
    return path;
}

Unreadable readUnreadable(const Json& value, const std::string& path, bool isDisk) {
    if (!value.is_array())
        failAt(path, "must be a list of property names");
    Unreadable result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string item = indexed(path, i);
        std::string name = isDisk
                               ? choice(value[i], item,
                                        {"parent", "instance-id", "hardware-ids",
                                         "driver-description", "location-info", "interface-detail"})
                               : choice(value[i], item,
                                        {"instance-id", "hardware-ids", "driver-description",
                                         "location-info", "interface-detail"});
        if (name == "parent")
            result.parent = true;
        if (name == "instance-id")
            result.instanceId = true;
        if (name == "hardware-ids")
            result.hardwareIds = true;
        if (name == "driver-description")
            result.driverDescription = true;
        if (name == "location-info")
            result.locationInfo = true;
        if (name == "interface-detail")
            result.interfaceDetail = true;
    }
    return result;
}

RequestFault readRequestFault(const Json& value, const std::string& path) {
    expectObject(value, path, {"request", "nth", "andLater", "error", "status"});
    RequestFault fault;
    const std::string kindPath = join(path, "request");
    const std::string kind =
        choice(required(value, path, "request"), kindPath,
               {"device-number", "identify", "get-info", "download", "activate"});
    fault.kind = *requestKindFromName(kind);
    fault.nth = static_cast<std::uint32_t>(
        integer(required(value, path, "nth"), join(path, "nth"), 1, 0xFFFFFFFF));
    if (const Json* later = field(value, "andLater")) {
        fault.andLater = boolean(*later, join(path, "andLater"));
    }
    const Json* error = field(value, "error");
    const Json* status = field(value, "status");
    if ((error == nullptr) == (status == nullptr)) {
        failAt(path, "needs exactly one of \"error\" and \"status\"");
    }
    if (error) {
        fault.error = static_cast<std::uint32_t>(integer(*error, join(path, "error"), 1, 0xFFFF));
    } else {
        if (fault.kind == RequestKind::DeviceNumber || fault.kind == RequestKind::Identify) {
            failAt(join(path, "status"),
                   "only firmware requests (get-info, download, activate) answer a status");
        }
        fault.status =
            static_cast<std::uint32_t>(integer(*status, join(path, "status"), 0, 0xFFFFFFFF));
    }
    return fault;
}

void MachineReader::claimInstanceId(const std::wstring& id, const std::string& where) {
    auto [it, fresh] = instanceIds.emplace(upperAscii(id), where);
    if (!fresh)
        failAt(where, "the instance id is already used by " + it->second);
}

void MachineReader::addFile(DeviceFileEntry file, const std::string& where) {
    auto [it, fresh] = paths.emplace(upperAscii(file.path), where);
    if (!fresh) {
        failAt(where, "the path \"" + toUtf8(file.path) + "\" is already used by " + it->second);
    }
    machine.files.push_back(std::move(file));
}

void MachineReader::readDisk(const Json& value, const std::string& path,
                             const std::wstring& parent) {
    expectObject(value, path,
                 {"instanceId", "hardwareIds", "deviceNumber", "interfacePath", "driverDescription",
                  "locationInfo", "faults", "drive"});
    Device device;
    device.instanceId =
        wideText(required(value, path, "instanceId"), join(path, "instanceId"), false);
    claimInstanceId(device.instanceId, join(path, "instanceId"));
    device.parent = parent;
    const std::string idsPath = join(path, "hardwareIds");
    device.hardwareIds = textList(required(value, path, "hardwareIds"), idsPath);
    if (device.hardwareIds.empty())
        failAt(idsPath, "must hold at least one id");
    device.driverDescription = L"Disk drive";
    if (const Json* desc = field(value, "driverDescription")) {
        device.driverDescription = wideText(*desc, join(path, "driverDescription"));
    }
    device.locationInfo = L"Bus Number 0, Target Id 0, LUN 0";
    if (const Json* location = field(value, "locationInfo")) {
        device.locationInfo = wideText(*location, join(path, "locationInfo"));
    }
    std::wstring interfacePath = interfacePathFor(device.instanceId, DISK_CLASS_TEXT);
    if (const Json* given = field(value, "interfacePath")) {
        interfacePath = wideText(*given, join(path, "interfacePath"), false);
    }
    device.interfaces.push_back({DISK_INTERFACE_CLASS, interfacePath});
    device.devInst = nextDevInst();

    Disk disk;
    const std::string numberPath = join(path, "deviceNumber");
    disk.deviceNumber = static_cast<std::uint32_t>(
        integer(required(value, path, "deviceNumber"), numberPath, 0, 9999));
    auto [it, fresh] = deviceNumbers.emplace(disk.deviceNumber, path);
    if (!fresh) {
        failAt(numberPath, std::to_string(disk.deviceNumber) + " is already the device number of " +
                               it->second);
    }
    disk.driver = DriverStack::Inbox;

    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        expectObject(*faults, faultsPath,
                     {"openInterface", "openPhysicalDrive", "unreadable", "requests", "getInfo"});
        if (const Json* open = field(*faults, "openInterface")) {
            disk.faults.openInterface = systemError(*open, join(faultsPath, "openInterface"));
        }
        if (const Json* open = field(*faults, "openPhysicalDrive")) {
            disk.faults.openPhysicalDrive =
                systemError(*open, join(faultsPath, "openPhysicalDrive"));
        }
        if (const Json* unreadable = field(*faults, "unreadable")) {
            device.unreadable = readUnreadable(*unreadable, join(faultsPath, "unreadable"), true);
        }
        if (const Json* requests = field(*faults, "requests")) {
            const std::string requestsPath = join(faultsPath, "requests");
            if (!requests->is_array())
                failAt(requestsPath, "must be a list of faults");
            for (std::size_t i = 0; i < requests->size(); ++i) {
                disk.faults.requests.push_back(
                    readRequestFault((*requests)[i], indexed(requestsPath, i)));
            }
        }
        if (const Json* getInfo = field(*faults, "getInfo")) {
            const std::string infoPath = join(faultsPath, "getInfo");
            expectObject(*getInfo, infoPath, {"slotCount", "dataBufferOffset"});
            if (const Json* count = field(*getInfo, "slotCount")) {
                disk.faults.getInfo.slotCount =
                    static_cast<std::uint8_t>(integer(*count, join(infoPath, "slotCount"), 0, 255));
            }
            if (const Json* offset = field(*getInfo, "dataBufferOffset")) {
                disk.faults.getInfo.dataBufferOffset = static_cast<std::uint32_t>(
                    integer(*offset, join(infoPath, "dataBufferOffset"), 0, 0xFFFFFFFF));
            }
        }
    }
    disk.drive =
        std::make_unique<NvmeDrive>(readDrive(required(value, path, "drive"), join(path, "drive")));

    const std::size_t diskIndex = machine.disks.size();
    disk.device = machine.devices.size();
    DeviceFileEntry byInterface{interfacePath, DeviceFileEntry::Target::Disk, diskIndex,
                                disk.faults.openInterface};
    addFile(std::move(byInterface), join(path, "interfacePath"));
    DeviceFileEntry byNumber{
        std::wstring(PHYSICAL_DRIVE_PREFIX) + std::to_wstring(disk.deviceNumber),
        DeviceFileEntry::Target::Disk, diskIndex, disk.faults.openPhysicalDrive};
    addFile(std::move(byNumber), numberPath);
    machine.devices.push_back(std::move(device));
    machine.disks.push_back(std::move(disk));
}

}  // namespace velo::sim
