// The controller section of a machine file for the Windows inbox NVMe driver.
#include "sim/MachineReader.h"

namespace velo::sim {

void readInboxController(MachineReader& reader, const Json& value, const std::string& path,
                         std::size_t ordinal) {
    expectObject(value, path,
                 {"instanceId", "driver", "driverDescription", "locationInfo", "hardwareIds",
                  "storagePortPath", "setOrder", "faults", "disks"});
    Device device =
        reader.readControllerDevice(value, path, ordinal, L"Standard NVM Express Controller");
    const auto portPath =
        readInterfacePath(value, path, "storagePortPath",
                          interfacePathFor(device.instanceId, STORAGE_PORT_CLASS_TEXT));
    DeviceFileEntry port;
    port.target = DeviceFileEntry::Target::StoragePort;
    port.index = reader.machine.devices.size();
    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        expectObject(*faults, faultsPath, {"openStoragePort", "unreadable"});
        if (const Json* open = field(*faults, "openStoragePort")) {
            port.openFault = readOpenFault(*open, join(faultsPath, "openStoragePort"));
        }
        if (const Json* unreadable = field(*faults, "unreadable")) {
            device.unreadable = readUnreadable(*unreadable, join(faultsPath, "unreadable"), false);
        }
    }
    reader.addInterface(device, STORAGE_PORT_INTERFACE_CLASS, portPath, std::move(port),
                        join(path, "storagePortPath"));
    const std::wstring instanceId = device.instanceId;
    reader.machine.devices.push_back(std::move(device));
    reader.readDisks(value, path, instanceId, DriverStack::Inbox);
}

}  // namespace velo::sim
