// The controller section of a machine file for the Intel RST driver: the controller and its
// storage port, the NVMe drives the driver reaches by path id, the RAID sets, and the disks
// Windows shows behind the controller.
#include <set>

#include "sim/MachineReader.h"

namespace velo::sim {

namespace {

void readDrives(const Json& value, const std::string& path, RstController& controller) {
    if (!value.is_array())
        failAt(path, "must be a list of drives");
    std::map<std::uint8_t, std::string> pathIds;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string item = indexed(path, i);
        expectObject(value[i], item, {"pathId", "drive", "faults"});
        RstDrive drive;
        const std::string idPath = join(item, "pathId");
        drive.pathId =
            static_cast<std::uint8_t>(integer(required(value[i], item, "pathId"), idPath, 0, 255));
        auto [it, fresh] = pathIds.emplace(drive.pathId, item);
        if (!fresh) {
            failAt(idPath,
                   "path id " + std::to_string(drive.pathId) + " is already used by " + it->second);
        }
        drive.drive = std::make_unique<NvmeDrive>(
            readDrive(required(value[i], item, "drive"), join(item, "drive")));
        if (const Json* faults = field(value[i], "faults")) {
            const std::string faultsPath = join(item, "faults");
            expectObject(*faults, faultsPath, {"requests"});
            if (const Json* requests = field(*faults, "requests")) {
                drive.faults = readRequestFaults(*requests, join(faultsPath, "requests"),
                                                 FaultReceiver::RstDrive);
            }
        }
        controller.drives.push_back(std::move(drive));
    }
}

void readRaidSets(const Json& value, const std::string& path, RstController& controller) {
    if (!value.is_array())
        failAt(path, "must be a list of RAID sets");
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string item = indexed(path, i);
        expectObject(value[i], item, {"members", "driveCount"});
        RaidSet set;
        const std::string membersPath = join(item, "members");
        const Json& members = required(value[i], item, "members");
        if (!members.is_array())
            failAt(membersPath, "must be a list of path ids");
        std::set<std::uint8_t> seen;
        for (std::size_t m = 0; m < members.size(); ++m) {
            const std::string memberPath = indexed(membersPath, m);
            const auto pathId = static_cast<std::uint8_t>(integer(members[m], memberPath, 0, 255));
            if (!seen.insert(pathId).second) {
                failAt(memberPath,
                       "path id " + std::to_string(pathId) + " is already a member of the set");
            }
            set.members.push_back(pathId);
        }
        if (set.members.size() > 255)
            failAt(membersPath, "a set has at most 255 members");
        set.driveCount = static_cast<std::uint8_t>(set.members.size());
        if (const Json* count = field(value[i], "driveCount")) {
            set.driveCount =
                static_cast<std::uint8_t>(integer(*count, join(item, "driveCount"), 0, 255));
        }
        controller.raidSets.push_back(std::move(set));
    }
}

}  // namespace

void readRstController(MachineReader& reader, const Json& value, const std::string& path,
                       std::size_t ordinal) {
    expectObject(value, path,
                 {"instanceId", "driver", "driverDescription", "locationInfo", "hardwareIds",
                  "storagePortPath", "setOrder", "faults", "drives", "raidSets", "disks"});
    Device device = reader.readControllerDevice(
        value, path, ordinal, L"Intel(R) Chipset SATA/PCIe RST Premium Controller");
    const auto portPath =
        readInterfacePath(value, path, "storagePortPath",
                          interfacePathFor(device.instanceId, STORAGE_PORT_CLASS_TEXT));
    RstController controller;
    controller.device = reader.machine.devices.size();
    DeviceFileEntry port;
    port.target = DeviceFileEntry::Target::RstPort;
    port.index = reader.machine.rstControllers.size();
    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        expectObject(*faults, faultsPath, {"openStoragePort", "unreadable", "requests"});
        if (const Json* open = field(*faults, "openStoragePort")) {
            port.openFault = readOpenFault(*open, join(faultsPath, "openStoragePort"));
        }
        if (const Json* unreadable = field(*faults, "unreadable")) {
            device.unreadable = readUnreadable(*unreadable, join(faultsPath, "unreadable"), false);
        }
        if (const Json* requests = field(*faults, "requests")) {
            controller.faults =
                readRequestFaults(*requests, join(faultsPath, "requests"), FaultReceiver::RstPort);
        }
    }
    if (const Json* drives = field(value, "drives"))
        readDrives(*drives, join(path, "drives"), controller);
    if (const Json* sets = field(value, "raidSets"))
        readRaidSets(*sets, join(path, "raidSets"), controller);

    reader.addInterface(device, STORAGE_PORT_INTERFACE_CLASS, portPath, std::move(port),
                        join(path, "storagePortPath"));
    const std::wstring instanceId = device.instanceId;
    reader.machine.devices.push_back(std::move(device));
    reader.machine.rstControllers.push_back(std::move(controller));
    reader.readDisks(value, path, instanceId, DriverStack::Rst);
}

}  // namespace velo::sim
