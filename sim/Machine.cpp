#include "sim/Machine.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "platform/Text.h"
#include "sim/InboxDriver.h"
#include "sim/RstDriver.h"
#include "sim/VrocDriver.h"

namespace velo::sim {

namespace {

constexpr std::size_t SYSTEM_BUFFER_ALIGNMENT = 64;

constexpr std::array<std::string_view, REQUEST_KIND_COUNT> KIND_NAMES = {
    "device-number", "identify",     "get-info",   "download",    "activate",
    "raid-config",   "volume-count", "disk-count", "volume-info", "volume-members",
    "disk-list",     "commit",       "log-page",   "other"};

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

void Machine::checkHistoryKept() const {
    if (!keepHistory_) {
        throw std::logic_error(
            "the machine keeps no request history; ask for it with keepHistory(true)");
    }
}

const std::vector<RequestRecord>& Machine::requests() const {
    checkHistoryKept();
    return requests_;
}

const std::vector<OpenRecord>& Machine::opens() const {
    checkHistoryKept();
    return opens_;
}

std::vector<RequestRecord> Machine::requestsOfKind(RequestKind kind) const {
    checkHistoryKept();
    std::vector<RequestRecord> found;
    std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(found),
                 [kind](const RequestRecord& record) { return record.kind == kind; });
    return found;
}

void Machine::clearHistory() {
    requests_.clear();
    opens_.clear();
    std::fill(std::begin(requestCounts_), std::end(requestCounts_), 0);
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

std::optional<std::size_t> Machine::open(const std::wstring& path, std::uint32_t access,
                                         std::uint32_t share, std::uint32_t flags,
                                         std::uint32_t& error) {
    const auto index = lookUp(path);
    error = index ? files[*index].openFault.errorFor(++files[*index].opens)
                  : SYSTEM_ERROR_FILE_NOT_FOUND;
    if (keepHistory_)
        opens_.push_back({path, access, share, flags, error});
    if (error != 0)
        return std::nullopt;
    return index;
}

ControlResult Machine::control(std::size_t fileIndex, std::uint32_t controlCode,
                               std::span<std::uint8_t> buffer, std::uint32_t inputLength,
                               std::uint32_t outputLength) {
    const DeviceFileEntry& file = files[fileIndex];
    RequestRecord record;
    const std::size_t sent = std::min<std::size_t>(inputLength, buffer.size());
    if (keepHistory_) {
        record.path = file.path;
        record.controlCode = controlCode;
        record.inputLength = inputLength;
        record.outputLength = outputLength;
        record.input.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(sent));
    }

    ControlResult result;
    if (inputLength > buffer.size() || outputLength > buffer.size()) {
        // The transfer would reach past the end of the caller's buffer. Nothing is sized by
        // lengths that were not checked.
        record.note = "input or output length exceeds the buffer";
        result = {false, 0, SYSTEM_ERROR_NOACCESS};
    } else {
        // The driver works on a system buffer as long as the longer of input and output,
        // holding the input and zeros after it; its answer is copied back to the caller up to
        // the output length. The buffer is the machine's, reused from request to request, and
        // starts on a 64-byte boundary wherever the vector lies, so that the time of copies out
        // of it does not depend on where the allocator put it.
        const std::size_t length = std::max(sent, std::size_t{outputLength});
        if (system_.size() < length + SYSTEM_BUFFER_ALIGNMENT)
            system_.resize(length + SYSTEM_BUFFER_ALIGNMENT);
        const std::size_t skew =
            (SYSTEM_BUFFER_ALIGNMENT -
             reinterpret_cast<std::uintptr_t>(system_.data()) % SYSTEM_BUFFER_ALIGNMENT) %
            SYSTEM_BUFFER_ALIGNMENT;
        const std::span<std::uint8_t> system(system_.data() + skew, length);
        std::copy_n(buffer.begin(), sent, system.begin());
        std::fill(system.begin() + static_cast<std::ptrdiff_t>(sent), system.end(), 0);
        result = answer(file, controlCode, system, inputLength, outputLength, record);
        if (result.ok) {
            result.bytesReturned = std::min<std::uint32_t>(result.bytesReturned, outputLength);
            std::copy_n(system.begin(), result.bytesReturned, buffer.begin());
        }
    }
    if (!result.ok)
        result.bytesReturned = 0;
    ++requestCounts_[static_cast<std::size_t>(record.kind)];
    if (keepHistory_) {
        record.output.assign(buffer.begin(),
                             buffer.begin() + static_cast<std::ptrdiff_t>(result.bytesReturned));
        record.ok = result.ok;
        record.error = result.error;
        record.bytesReturned = result.bytesReturned;
        requests_.push_back(std::move(record));
    }
    return result;
}

ControlResult Machine::answer(const DeviceFileEntry& file, std::uint32_t controlCode,
                              std::span<std::uint8_t> system, std::uint32_t inputLength,
                              std::uint32_t outputLength, RequestRecord& record) {
    switch (file.target) {
        case DeviceFileEntry::Target::Disk: {
            Disk& disk = disks[file.index];
            if (keepHistory_) {
                record.instanceId = devices[disk.device].instanceId;
                record.deviceNumber = disk.deviceNumber;
            }
            if (disk.driver == DriverStack::Rst)
                return rstDiskControl(disk, controlCode, system, outputLength, record);
            return inboxDiskControl(disk, controlCode, system, inputLength, outputLength, record);
        }
        case DeviceFileEntry::Target::RstPort: {
            RstController& port = rstControllers[file.index];
            if (keepHistory_)
                record.instanceId = devices[port.device].instanceId;
            return rstPortControl(port, controlCode, system, inputLength, outputLength, record);
        }
        case DeviceFileEntry::Target::ScsiPort:
            return scsiPortControl(scsiPorts[file.index], controlCode, system, inputLength,
                                   outputLength, record);
        case DeviceFileEntry::Target::StoragePort:
            break;
    }
    // The storage port of an inbox controller takes no request the program sends.
    if (keepHistory_)
        record.instanceId = devices[file.index].instanceId;
    record.note = "the storage port answers no request in this model";
    return {false, 0, SYSTEM_ERROR_INVALID_FUNCTION};
}

}  // namespace velo::sim
