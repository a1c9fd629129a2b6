// The "scsiPorts" list of a machine file: the SCSI ports \\.\ScsiN:, the disks the Intel VROC
// driver knows on each by disk id, the RAID volume, the counts its queries state and its
// faults.
#include <set>

#include "sim/MachineReader.h"

namespace velo::sim {

namespace {

constexpr std::wstring_view PORT_PREFIX = L"\\\\.\\Scsi";
constexpr std::uint64_t LAST_PORT = 15;

// A count the driver states: any 32-bit value, given signed or unsigned.
std::uint32_t statedCount(const Json& value, const std::string& path) {
    const std::string range = "must be an integer -2147483648..4294967295";
    if (!value.is_number_integer())
        failAt(path, range);
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > 0xFFFFFFFF)
            failAt(path, range);
        return static_cast<std::uint32_t>(number);
    }
    const auto number = value.get<std::int64_t>();
    if (number < -2147483648LL || number > 0xFFFFFFFFLL)
        failAt(path, range);
    return static_cast<std::uint32_t>(number);
}

void readDisk(const Json& value, const std::string& path, ScsiPort& port,
              std::map<std::uint32_t, std::string>& ids) {
    expectObject(value, path, {"diskId", "address", "model", "serial", "drive", "faults"});
    VrocDisk disk;
    const std::string idPath = join(path, "diskId");
    disk.diskId =
        static_cast<std::uint32_t>(integer(required(value, path, "diskId"), idPath, 0, 0xFFFFFFFF));
    if (auto [it, fresh] = ids.emplace(disk.diskId, path); !fresh)
        failAt(idPath,
               "disk id " + std::to_string(disk.diskId) + " is already used by " + it->second);
    if (const Json* address = field(value, "address")) {
        disk.address =
            static_cast<std::uint32_t>(integer(*address, join(path, "address"), 0, 0xFFFFFFFF));
    }
    if (const Json* drive = field(value, "drive"))
        disk.drive = std::make_unique<NvmeDrive>(readDrive(*drive, join(path, "drive")));
    // An entry repeats its drive's identify texts unless it is given its own.
    disk.model.fill(' ');
    disk.serial.fill(0);
    if (disk.drive) {
        disk.model = disk.drive->setup().model;
        std::copy(disk.drive->setup().serial.begin(), disk.drive->setup().serial.end(),
                  disk.serial.begin());
    }
    if (const Json* model = field(value, "model"))
        disk.model = fieldBytes<MODEL_LENGTH>(*model, join(path, "model"));
    if (const Json* serial = field(value, "serial"))
        disk.serial = fieldBytes<VROC_SERIAL_LENGTH>(*serial, join(path, "serial"), 0);
    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        expectObject(*faults, faultsPath, {"requests"});
        if (const Json* requests = field(*faults, "requests")) {
            disk.faults =
                readRequestFaults(*requests, join(faultsPath, "requests"), FaultReceiver::VrocDisk);
        }
    }
    port.disks.push_back(std::move(disk));
}

void readVolume(const Json& value, const std::string& path, ScsiPort& port) {
    expectObject(value, path, {"members"});
    const std::string membersPath = join(path, "members");
    const Json& members = required(value, path, "members");
    if (!members.is_array())
        failAt(membersPath, "must be a list of disk ids");
    for (std::size_t i = 0; i < members.size(); ++i) {
        const std::string item = indexed(membersPath, i);
        const auto id = static_cast<std::uint32_t>(integer(members[i], item, 0, 0xFFFFFFFF));
        if (!port.diskById(id))
            failAt(item, "disk id " + std::to_string(id) + " is not listed on the port");
        if (port.isMember(id))
            failAt(item, "disk id " + std::to_string(id) + " is already a member of the volume");
        port.members.push_back(id);
    }
    port.hasVolume = true;
}

void readPort(MachineReader& reader, const Json& value, const std::string& path,
              std::map<std::uint64_t, std::string>& numbers) {
    expectObject(
        value, path,
        {"port", "driver", "disks", "volume", "volumeCount", "memberCount", "diskCount", "faults"});
    ScsiPort port;
    const std::string numberPath = join(path, "port");
    const std::uint64_t number = integer(required(value, path, "port"), numberPath, 0, LAST_PORT);
    if (auto [it, fresh] = numbers.emplace(number, path); !fresh)
        failAt(numberPath, "port " + std::to_string(number) + " is already used by " + it->second);
    port.number = static_cast<std::uint8_t>(number);
    const bool vroc =
        choice(required(value, path, "driver"), join(path, "driver"), {"vroc", "none"}) == "vroc";
    port.driver = vroc ? ScsiDriver::Vroc : ScsiDriver::None;
    auto vrocOnly = [&](const Json& object, const std::string& where, std::string_view name) {
        const Json* found = field(object, name);
        if (found && !vroc)
            failAt(join(where, name), "only a port with the \"vroc\" driver has it");
        return found;
    };

    if (const Json* disks = vrocOnly(value, path, "disks")) {
        const std::string disksPath = join(path, "disks");
        if (!disks->is_array())
            failAt(disksPath, "must be a list of disks");
        std::map<std::uint32_t, std::string> ids;
        for (std::size_t i = 0; i < disks->size(); ++i)
            readDisk((*disks)[i], indexed(disksPath, i), port, ids);
    }
    if (const Json* volume = vrocOnly(value, path, "volume"))
        readVolume(*volume, join(path, "volume"), port);
    port.volumeCount = port.hasVolume ? 1 : 0;
    port.memberCount = static_cast<std::uint32_t>(port.members.size());
    port.diskCount = static_cast<std::uint32_t>(port.disks.size() - port.members.size());
    if (const Json* count = vrocOnly(value, path, "volumeCount"))
        port.volumeCount = statedCount(*count, join(path, "volumeCount"));
    if (const Json* count = vrocOnly(value, path, "memberCount"))
        port.memberCount = statedCount(*count, join(path, "memberCount"));
    if (const Json* count = vrocOnly(value, path, "diskCount"))
        port.diskCount = statedCount(*count, join(path, "diskCount"));

    DeviceFileEntry file;
    file.target = DeviceFileEntry::Target::ScsiPort;
    file.index = reader.machine.scsiPorts.size();
    file.path = std::wstring(PORT_PREFIX) + std::to_wstring(number) + L":";
    if (const Json* faults = field(value, "faults")) {
        const std::string faultsPath = join(path, "faults");
        expectObject(*faults, faultsPath, {"open", "requests"});
        if (const Json* open = field(*faults, "open"))
            file.openFault = readOpenFault(*open, join(faultsPath, "open"));
        if (const Json* requests = vrocOnly(*faults, faultsPath, "requests")) {
            port.faults =
                readRequestFaults(*requests, join(faultsPath, "requests"), FaultReceiver::VrocPort);
        }
    }
    reader.addFile(std::move(file), numberPath);
    reader.machine.scsiPorts.push_back(std::move(port));
}

}  // namespace

void readScsiPorts(MachineReader& reader, const Json& value, const std::string& path) {
    if (!value.is_array())
        failAt(path, "must be a list of SCSI ports");
    std::map<std::uint64_t, std::string> numbers;
    for (std::size_t i = 0; i < value.size(); ++i)
        readPort(reader, value[i], indexed(path, i), numbers);
}

}  // namespace velo::sim
