// The controller section of a machine file for the Windows inbox NVMe driver.
#include "platform/sim/MachineReader.h"
#include "platform/sim/SimPlatform.h"

namespace velo::sim {

void readInboxController(MachineReader& reader, const Json& value, const std::string& path,
                         std::size_t ordinal) {
    expectObject(value, path,
                 {"instanceId", "driver", "driverDescription", "locationInfo", "hardwareIds",
                  "storagePortPath", "faults", "disks"});
    Device device;
    device.instanceId =
        wideText(required(value, path, "instanceId"), join(path, "instanceId"), false);
    reader.claimInstanceId(device.instanceId, join(path, "instanceId"));
    choice(required(value, path, "driver"), join(path, "driver"), {"inbox"});
    device.driverDescription = L"Standard NVM Express Controller";
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
    std::wstring portPath = interfacePathFor(device.instanceId, STORAGE_PORT_CLASS_TEXT);
    if (const Json* given = field(value, "storagePortPath")) {
        portPath = wideText(*given, join(path, "storagePortPath"), false);
    }
    device.interfaces.push_back({STORAGE_PORT_INTERFACE_CLASS, portPath});
    std::uint32_t openError = 0;
    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        expectObject(*faults, faultsPath, {"openStoragePort", "unreadable"});
        if (const Json* open = field(*faults, "openStoragePort")) {
            openError = systemError(*open, join(faultsPath, "openStoragePort"));
        }
        if (const Json* unreadable = field(*faults, "unreadable")) {
            device.unreadable = readUnreadable(*unreadable, join(faultsPath, "unreadable"), false);
        }
    }
    device.devInst = reader.nextDevInst();
    const std::wstring instanceId = device.instanceId;
    reader.addFile(
        {portPath, DeviceFileEntry::Target::StoragePort, reader.machine.devices.size(), openError},
        join(path, "storagePortPath"));
    reader.machine.devices.push_back(std::move(device));

    if (const Json* disks = field(value, "disks")) {
        const std::string disksPath = join(path, "disks");
        if (!disks->is_array())
            failAt(disksPath, "must be a list of disks");
        for (std::size_t i = 0; i < disks->size(); ++i) {
            reader.readDisk((*disks)[i], indexed(disksPath, i), instanceId);
        }
    }
}

}  // namespace velo::sim
