#include "platform/sim/Machine.h"

#include <algorithm>
#include <array>

#include "platform/Text.h"
#include "platform/sim/InboxDriver.h"
#include "platform/sim/RstDriver.h"
#include "platform/sim/VrocDriver.h"

namespace velo::sim {

namespace {

constexpr std::array<std::string_view, REQUEST_KIND_COUNT> KIND_NAMES = {
    "device-number", "identify",     "get-info",   "download",    "activate",
    "raid-config",   "volume-count", "disk-count", "volume-info", "volume-members",
    "disk-list",     "commit",       "other"};

}  // namespace

std::string requestKindName(RequestKind kind) {
    return std::string(KIND_NAMES[static_cast<std::size_t>(kind)]);
}

std::optional<RequestKind> requestKindFromName(std::string_view name) {
    for (std::size_t i = 0; i < KIND_NAMES.size(); ++i) {
        if (KIND_NAMES[i] == name)
            return static_cast<RequestKind>(i);
    }
    return std::nullopt;
}

const RequestFault* RequestFaults::due(RequestKind kind) const {
    const std::uint32_t count = received[static_cast<std::size_t>(kind)];
    for (const RequestFault& fault : list) {
        if (fault.kind == kind && (count == fault.nth || (fault.andLater && count > fault.nth)))
            return &fault;
    }
    return nullptr;
}

std::uint32_t OpenFault::errorFor(std::uint32_t attempt) const {
    for (const OpenAttemptFault& fault : attempts) {
        if (attempt == fault.nth || (fault.andLater && attempt > fault.nth))
            return fault.error;
    }
    return always;
}

RstDrive* RstController::driveAt(std::uint8_t pathId) {
    for (RstDrive& drive : drives) {
        if (drive.pathId == pathId)
            return &drive;
    }
    return nullptr;
}

VrocDisk* ScsiPort::diskById(std::uint32_t diskId) {
    for (VrocDisk& disk : disks) {
        if (disk.diskId == diskId)
            return &disk;
    }
    return nullptr;
}

bool ScsiPort::isMember(std::uint32_t diskId) const {
    return std::find(members.begin(), members.end(), diskId) != members.end();
}

Machine::Machine() = default;
Machine::~Machine() = default;

Disk* Machine::diskByNumber(std::uint32_t deviceNumber) {
    for (Disk& disk : disks) {
        if (disk.deviceNumber == deviceNumber)
            return &disk;
    }
    return nullptr;
}

NvmeDrive* Machine::drive(std::uint32_t deviceNumber) {
    Disk* disk = diskByNumber(deviceNumber);
    return disk ? disk->drive.get() : nullptr;
}

NvmeDrive* Machine::rstDrive(std::uint8_t pathId, std::size_t controller) {
    if (controller >= rstControllers.size())
        return nullptr;
    RstDrive* found = rstControllers[controller].driveAt(pathId);
    return found ? found->drive.get() : nullptr;
}

NvmeDrive* Machine::vrocDrive(std::uint32_t diskId) {
    for (ScsiPort& port : scsiPorts) {
        if (VrocDisk* disk = port.diskById(diskId); disk && disk->drive)
            return disk->drive.get();
    }
    return nullptr;
}

const Device* Machine::deviceByInstanceId(std::wstring_view instanceId) const {
    for (const Device& device : devices) {
        if (device.instanceId == instanceId)
            return &device;
    }
    return nullptr;
}

std::vector<RequestRecord> Machine::requestsOfKind(RequestKind kind) const {
    std::vector<RequestRecord> found;
    std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(found),
                 [kind](const RequestRecord& record) { return record.kind == kind; });
    return found;
}

void Machine::clearHistory() {
    requests_.clear();
    opens_.clear();
}

void Machine::powerCycle() {
    for (Disk& disk : disks) {
        if (disk.drive)
            disk.drive->powerCycle();
    }
    for (RstController& controller : rstControllers) {
        for (RstDrive& drive : controller.drives)
            drive.drive->powerCycle();
    }
    for (ScsiPort& port : scsiPorts) {
        for (VrocDisk& disk : port.disks) {
            if (disk.drive)
                disk.drive->powerCycle();
            disk.queueHead = 0;  // the controller resets its queues
        }
    }
}

std::optional<std::size_t> Machine::lookUp(const std::wstring& path) const {
    // Object names are compared without regard to case, as the object manager does.
    if (indexedFiles_ != files.size()) {
        fileIndex_.clear();
        for (std::size_t i = 0; i < files.size(); ++i)
            fileIndex_.emplace(upperAscii(files[i].path), i);
        indexedFiles_ = files.size();
    }
    auto found = fileIndex_.find(upperAscii(path));
    if (found == fileIndex_.end())
        return std::nullopt;
    return found->second;
}

const DeviceFileEntry* Machine::findFile(const std::wstring& path) const {
    const auto index = lookUp(path);
    return index ? &files[*index] : nullptr;
}

const DeviceFileEntry* Machine::open(const std::wstring& path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t flags,
                                     std::uint32_t& error) {
    const auto index = lookUp(path);
    DeviceFileEntry* file = index ? &files[*index] : nullptr;
    error = file ? file->openFault.errorFor(++file->opens) : SYSTEM_ERROR_FILE_NOT_FOUND;
    opens_.push_back({path, access, share, flags, error});
    return error == 0 ? file : nullptr;
}

ControlResult Machine::control(const DeviceFileEntry& file, std::uint32_t controlCode,
                               std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                               std::uint32_t outputLength) {
    RequestRecord record;
    record.path = file.path;
    record.controlCode = controlCode;
    record.inputLength = inputLength;
    record.outputLength = outputLength;
    const std::size_t sent = std::min<std::size_t>(inputLength, buffer.size());
    record.input.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(sent));

    // The driver works on a system buffer as long as the longer of input and output, holding
    // the input; its answer is copied back to the caller up to the output length.
    std::vector<std::uint8_t> system(std::max(sent, std::size_t{outputLength}), 0);
    std::copy_n(buffer.begin(), sent, system.begin());

    ControlResult result;
    if (inputLength > buffer.size() || outputLength > buffer.size()) {
        // The transfer would reach past the end of the caller's buffer.
        record.note = "input or output length exceeds the buffer";
        result = {false, 0, SYSTEM_ERROR_NOACCESS};
    } else if (file.target == DeviceFileEntry::Target::Disk) {
        Disk& disk = disks[file.index];
        record.instanceId = devices[disk.device].instanceId;
        record.deviceNumber = disk.deviceNumber;
        switch (disk.driver) {
            case DriverStack::Inbox:
                result =
                    inboxDiskControl(disk, controlCode, system, inputLength, outputLength, record);
                break;
            case DriverStack::Rst:
                result = rstDiskControl(disk, controlCode, system, outputLength, record);
                break;
        }
    } else if (file.target == DeviceFileEntry::Target::RstPort) {
        RstController& port = rstControllers[file.index];
        record.instanceId = devices[port.device].instanceId;
        result = rstPortControl(port, controlCode, system, inputLength, outputLength, record);
    } else if (file.target == DeviceFileEntry::Target::ScsiPort) {
        result = scsiPortControl(scsiPorts[file.index], controlCode, system, inputLength,
                                 outputLength, record);
    } else {
        // The storage port of an inbox controller takes no request the program sends.
        record.instanceId = devices[file.index].instanceId;
        record.note = "the storage port answers no request in this model";
        result = {false, 0, SYSTEM_ERROR_INVALID_FUNCTION};
    }

    if (result.ok) {
        result.bytesReturned = std::min<std::uint32_t>(result.bytesReturned, outputLength);
        std::copy_n(system.begin(), result.bytesReturned, buffer.begin());
        record.output.assign(buffer.begin(),
                             buffer.begin() + static_cast<std::ptrdiff_t>(result.bytesReturned));
    } else {
        result.bytesReturned = 0;
    }
    record.ok = result.ok;
    record.error = result.error;
    record.bytesReturned = result.bytesReturned;
    requests_.push_back(std::move(record));
    return result;
}

}  // namespace velo::sim
