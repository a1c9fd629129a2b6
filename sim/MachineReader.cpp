#include "sim/MachineReader.h"

#include <optional>

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

namespace {

// The kinds of request that reach a receiver of faults.
std::string requestKind(const Json& value, const std::string& path, FaultReceiver receiver) {
    switch (receiver) {
        case FaultReceiver::InboxDisk:
            return choice(
                value, path,
                {"device-number", "identify", "log-page", "get-info", "download", "activate"});
        case FaultReceiver::RstDisk:
            return choice(value, path, {"device-number"});
        case FaultReceiver::RstPort:
            return choice(value, path,
                          {"identify", "log-page", "download", "activate", "raid-config"});
        case FaultReceiver::VrocPort:
            return choice(value, path,
                          {"volume-count", "disk-count", "volume-info", "volume-members",
                           "disk-list", "identify", "log-page", "download", "commit"});
        case FaultReceiver::VrocDisk:
            return choice(value, path, {"identify", "log-page", "download", "commit"});
        case FaultReceiver::RstDrive:
            break;
    }
    return choice(value, path, {"identify", "log-page", "download", "activate"});
}

// A VROC request fault: exactly one of an error, a status and (pass-through kinds only) a
// completion entry, any of them performed.
void readVrocAnswer(const Json& value, const std::string& path, RequestFault& fault) {
    const Json* error = field(value, "error");
    const Json* status = field(value, "status");
    const Json* completion = field(value, "completion");
    if ((error != nullptr) + (status != nullptr) + (completion != nullptr) != 1)
        failAt(path, "needs exactly one of \"error\", \"status\" and \"completion\"");
    if (error)
        fault.error = static_cast<std::uint32_t>(integer(*error, join(path, "error"), 1, 0xFFFF));
    if (status) {
        fault.status =
            static_cast<std::uint32_t>(integer(*status, join(path, "status"), 0, 0xFFFFFFFF));
    }
    if (completion) {
        if (fault.kind != RequestKind::Identify && fault.kind != RequestKind::LogPage &&
            fault.kind != RequestKind::Download && fault.kind != RequestKind::Commit) {
            failAt(join(path, "completion"),
                   "only a pass-through (identify, download, commit) has a completion entry");
        }
        fault.completion = static_cast<std::uint32_t>(
            integer(*completion, join(path, "completion"), 0, 0xFFFFFFFF));
    }
    if (const Json* performed = field(value, "performed"))
        fault.performed = boolean(*performed, join(path, "performed"));
}

}  // namespace

RequestFault readRequestFault(const Json& value, const std::string& path, FaultReceiver receiver) {
    const bool vroc = receiver == FaultReceiver::VrocPort || receiver == FaultReceiver::VrocDisk;
    if (vroc) {
        expectObject(value, path,
                     {"request", "nth", "andLater", "error", "status", "completion", "performed"});
    } else if (receiver == FaultReceiver::RstPort) {
        expectObject(value, path,
                     {"request", "nth", "andLater", "error", "status", "performed", "driveCount"});
    } else {
        expectObject(value, path, {"request", "nth", "andLater", "error", "status", "performed"});
    }
    RequestFault fault;
    fault.kind = *requestKindFromName(
        requestKind(required(value, path, "request"), join(path, "request"), receiver));
    fault.nth = static_cast<std::uint32_t>(
        integer(required(value, path, "nth"), join(path, "nth"), 1, 0xFFFFFFFF));
    if (const Json* later = field(value, "andLater")) {
        fault.andLater = boolean(*later, join(path, "andLater"));
    }
    if (vroc) {
        readVrocAnswer(value, path, fault);
        return fault;
    }
    const Json* error = field(value, "error");
    const Json* status = field(value, "status");
    if (const Json* count = field(value, "driveCount")) {
        if (fault.kind != RequestKind::RaidConfig) {
            failAt(join(path, "driveCount"), "only a raid-config reply states a drive count");
        }
        if (error)
            failAt(path, "an \"error\" fails the call, so no reply states \"driveCount\"");
        fault.driveCount =
            static_cast<std::uint8_t>(integer(*count, join(path, "driveCount"), 0, 255));
    } else if ((error == nullptr) == (status == nullptr)) {
        failAt(path, "needs exactly one of \"error\" and \"status\"");
    }
    if (error) {
        fault.error = static_cast<std::uint32_t>(integer(*error, join(path, "error"), 1, 0xFFFF));
    } else if (status) {
        const bool inbox = receiver == FaultReceiver::InboxDisk;
        if (receiver == FaultReceiver::RstDisk ||
            (inbox &&
             (fault.kind == RequestKind::DeviceNumber || fault.kind == RequestKind::Identify ||
              fault.kind == RequestKind::LogPage))) {
            failAt(join(path, "status"),
                   inbox ? "only firmware requests (get-info, download, activate) answer a status"
                         : "a disk behind an RST controller answers no status");
        }
        fault.status =
            static_cast<std::uint32_t>(integer(*status, join(path, "status"), 0, 0xFFFFFFFF));
    }
    if (const Json* performed = field(value, "performed")) {
        fault.performed = boolean(*performed, join(path, "performed"));
        if (fault.performed && !fault.status) {
            failAt(join(path, "performed"), "only a fault with a \"status\" is performed");
        }
    }
    return fault;
}

RequestFaults readRequestFaults(const Json& value, const std::string& path,
                                FaultReceiver receiver) {
    if (!value.is_array())
        failAt(path, "must be a list of faults");
    RequestFaults faults;
    for (std::size_t i = 0; i < value.size(); ++i)
        faults.list.push_back(readRequestFault(value[i], indexed(path, i), receiver));
    return faults;
}

OpenFault readOpenFault(const Json& value, const std::string& path) {
    OpenFault fault;
    if (!value.is_array()) {
        fault.always = systemError(value, path);
        return fault;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string item = indexed(path, i);
        expectObject(value[i], item, {"nth", "andLater", "error"});
        OpenAttemptFault attempt;
        attempt.nth = static_cast<std::uint32_t>(
            integer(required(value[i], item, "nth"), join(item, "nth"), 1, 0xFFFFFFFF));
        if (const Json* later = field(value[i], "andLater"))
            attempt.andLater = boolean(*later, join(item, "andLater"));
        attempt.error = static_cast<std::uint32_t>(
            integer(required(value[i], item, "error"), join(item, "error"), 1, 0xFFFF));
        fault.attempts.push_back(attempt);
    }
    return fault;
}

std::uint32_t readSetOrder(const Json& object, const std::string& path) {
    const Json* order = field(object, "setOrder");
    return order
               ? static_cast<std::uint32_t>(integer(*order, join(path, "setOrder"), 0, 0xFFFFFFFF))
               : 0;
}

std::optional<std::wstring> readInterfacePath(const Json& object, const std::string& path,
                                              std::string_view name,
                                              const std::wstring& defaultPath) {
    const Json* given = field(object, name);
    if (!given)
        return defaultPath;
    if (given->is_null())
        return std::nullopt;
    return wideText(*given, join(path, name), false);
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

void MachineReader::addInterface(Device& device, const Guid& interfaceClass,
                                 const std::optional<std::wstring>& path, DeviceFileEntry file,
                                 const std::string& where) {
    device.interfaces.push_back({interfaceClass, path.value_or(L""), path.has_value()});
    if (path) {
        file.path = *path;
        addFile(std::move(file), where);
    }
}

Device MachineReader::readControllerDevice(const Json& value, const std::string& path,
                                           std::size_t ordinal,
                                           std::wstring_view defaultDescription) {
    Device device;
    device.instanceId =
        wideText(required(value, path, "instanceId"), join(path, "instanceId"), false);
    claimInstanceId(device.instanceId, join(path, "instanceId"));
    device.driverDescription = defaultDescription;
    if (const Json* desc = field(value, "driverDescription")) {
        device.driverDescription = wideText(*desc, join(path, "driverDescription"));
    }
    device.locationInfo = L"PCI bus " + std::to_wstring(ordinal + 1) + L", device 0, function 0";
    if (const Json* location = field(value, "locationInfo")) {
        device.locationInfo = wideText(*location, join(path, "locationInfo"));
    }
    // A PCI function's hardware id is its instance id without the instance part.
    device.hardwareIds = {device.instanceId.substr(0, device.instanceId.rfind(L'\\'))};
    if (const Json* ids = field(value, "hardwareIds")) {
        device.hardwareIds = textList(*ids, join(path, "hardwareIds"));
    }
    device.setOrder = readSetOrder(value, path);
    device.devInst = nextDevInst();
    return device;
}

void MachineReader::readDisks(const Json& value, const std::string& path,
                              const std::wstring& parent, DriverStack stack) {
    if (const Json* disks = field(value, "disks")) {
        const std::string disksPath = join(path, "disks");
        if (!disks->is_array())
            failAt(disksPath, "must be a list of disks");
        for (std::size_t i = 0; i < disks->size(); ++i)
            readDisk((*disks)[i], indexed(disksPath, i), parent, stack);
    }
}

void MachineReader::readDisk(const Json& value, const std::string& path, const std::wstring& parent,
                             DriverStack stack) {
    const bool inbox = stack == DriverStack::Inbox;
    if (inbox) {
        expectObject(
            value, path,
            {"instanceId", "hardwareIds", "deviceNumber", "interfacePath", "driverDescription",
             "locationInfo", "parent", "setOrder", "faults", "drive"});
    } else {
        expectObject(value, path,
                     {"instanceId", "hardwareIds", "deviceNumber", "interfacePath",
                      "driverDescription", "locationInfo", "parent", "setOrder", "faults"});
    }
    Device device;
    device.instanceId =
        wideText(required(value, path, "instanceId"), join(path, "instanceId"), false);
    claimInstanceId(device.instanceId, join(path, "instanceId"));
    device.parent = parent;
    if (const Json* given = field(value, "parent"))
        device.parent = wideText(*given, join(path, "parent"), false);
    const std::string idsPath = join(path, "hardwareIds");
    if (const Json* ids =
            inbox ? &required(value, path, "hardwareIds") : field(value, "hardwareIds"))
        device.hardwareIds = textList(*ids, idsPath);
    device.driverDescription = L"Disk drive";
    if (const Json* desc = field(value, "driverDescription")) {
        device.driverDescription = wideText(*desc, join(path, "driverDescription"));
    }
    device.locationInfo = L"Bus Number 0, Target Id 0, LUN 0";
    if (const Json* location = field(value, "locationInfo")) {
        device.locationInfo = wideText(*location, join(path, "locationInfo"));
    }
    device.setOrder = readSetOrder(value, path);
    const std::optional<std::wstring> interfacePath = readInterfacePath(
        value, path, "interfacePath", interfacePathFor(device.instanceId, DISK_CLASS_TEXT));
    device.devInst = nextDevInst();

    Disk disk;
    disk.driver = stack;
    const std::string numberPath = join(path, "deviceNumber");
    if (const Json* number =
            inbox ? &required(value, path, "deviceNumber") : field(value, "deviceNumber")) {
        disk.deviceNumber = static_cast<std::uint32_t>(integer(*number, numberPath, 0, 9999));
        auto [it, fresh] = deviceNumbers.emplace(*disk.deviceNumber, path);
        if (!fresh) {
            failAt(numberPath, std::to_string(*disk.deviceNumber) +
                                   " is already the device number of " + it->second);
        }
    }

    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        if (inbox) {
            expectObject(
                *faults, faultsPath,
                {"openInterface", "openPhysicalDrive", "unreadable", "requests", "getInfo"});
        } else {
            expectObject(*faults, faultsPath,
                         {"openInterface", "openPhysicalDrive", "unreadable", "requests"});
        }
        if (const Json* open = field(*faults, "openInterface")) {
            disk.faults.openInterface = readOpenFault(*open, join(faultsPath, "openInterface"));
        }
        if (const Json* open = field(*faults, "openPhysicalDrive")) {
            const std::string openPath = join(faultsPath, "openPhysicalDrive");
            if (!disk.deviceNumber)
                failAt(openPath, "a disk without a device number has no physical-drive path");
            disk.faults.openPhysicalDrive = readOpenFault(*open, openPath);
        }
        if (const Json* unreadable = field(*faults, "unreadable")) {
            device.unreadable = readUnreadable(*unreadable, join(faultsPath, "unreadable"), true);
        }
        if (const Json* requests = field(*faults, "requests")) {
            disk.faults.requests =
                readRequestFaults(*requests, join(faultsPath, "requests"),
                                  inbox ? FaultReceiver::InboxDisk : FaultReceiver::RstDisk);
        }
        if (const Json* getInfo = field(*faults, "getInfo")) {
            const std::string infoPath = join(faultsPath, "getInfo");
            expectObject(*getInfo, infoPath, {"slotCount", "dataBufferOffset", "infoOffset"});
            if (const Json* count = field(*getInfo, "slotCount")) {
                disk.faults.getInfo.slotCount =
                    static_cast<std::uint8_t>(integer(*count, join(infoPath, "slotCount"), 0, 255));
            }
            if (const Json* offset = field(*getInfo, "dataBufferOffset")) {
                disk.faults.getInfo.dataBufferOffset = static_cast<std::uint32_t>(
                    integer(*offset, join(infoPath, "dataBufferOffset"), 0, 0xFFFFFFFF));
            }
            if (const Json* offset = field(*getInfo, "infoOffset")) {
                disk.faults.getInfo.infoOffset = static_cast<std::uint32_t>(
                    integer(*offset, join(infoPath, "infoOffset"), 52, 0xFFFFFFFF));
            }
        }
    }
    if (const Json* drive = inbox ? field(value, "drive") : nullptr)
        disk.drive = std::make_unique<NvmeDrive>(readDrive(*drive, join(path, "drive")));

    disk.device = machine.devices.size();
    DeviceFileEntry file;
    file.target = DeviceFileEntry::Target::Disk;
    file.index = machine.disks.size();
    file.openFault = disk.faults.openInterface;
    addInterface(device, DISK_INTERFACE_CLASS, interfacePath, file, join(path, "interfacePath"));
    if (disk.deviceNumber) {
        file.path = std::wstring(PHYSICAL_DRIVE_PREFIX) + std::to_wstring(*disk.deviceNumber);
        file.openFault = disk.faults.openPhysicalDrive;
        addFile(std::move(file), numberPath);
    }
    machine.devices.push_back(std::move(device));
    machine.disks.push_back(std::move(disk));
}

}  // namespace velo::sim
