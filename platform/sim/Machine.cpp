#include "platform/sim/Machine.h"

#include <algorithm>
#include <array>

#include "platform/Text.h"
#include "platform/sim/InboxDriver.h"

namespace velo::sim {

namespace {

constexpr std::array<std::string_view, REQUEST_KIND_COUNT> KIND_NAMES = {
    "device-number", "identify", "get-info", "download", "activate", "other"};

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
    for (Disk& disk : disks)
        disk.drive->powerCycle();
}

const DeviceFileEntry* Machine::findFile(const std::wstring& path) const {
    // Object names are compared without regard to case, as the object manager does.
    const std::wstring wanted = upperAscii(path);
    for (const DeviceFileEntry& file : files) {
        if (upperAscii(file.path) == wanted)
            return &file;
    }
    return nullptr;
}

ControlResult Machine::control(const DeviceFileEntry& file, std::uint32_t controlCode,
                               std::span<std::uint8_t> buffer, std::uint32_t inputLength) {
    RequestRecord record;
    record.path = file.path;
    record.controlCode = controlCode;
    record.inputLength = inputLength;
    record.outputLength = static_cast<std::uint32_t>(buffer.size());
    const std::size_t sent = std::min<std::size_t>(inputLength, buffer.size());
    record.input.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(sent));

    ControlResult result;
    if (inputLength > buffer.size()) {
        // The input would be read past the end of the caller's buffer.
        record.note = "input length exceeds the buffer";
        result = {false, 0, SYSTEM_ERROR_NOACCESS};
    } else if (file.target == DeviceFileEntry::Target::Disk) {
        Disk& disk = disks[file.index];
        record.instanceId = devices[disk.device].instanceId;
        record.deviceNumber = disk.deviceNumber;
        switch (disk.driver) {
            case DriverStack::Inbox:
                result = inboxDiskControl(disk, controlCode, buffer, inputLength, record);
                break;
        }
    } else {
        // The storage port of an inbox controller takes no request the program sends.
        record.instanceId = devices[file.index].instanceId;
        record.note = "the storage port answers no request in this model";
        result = {false, 0, SYSTEM_ERROR_INVALID_FUNCTION};
    }

    if (result.ok) {
        result.bytesReturned = std::min<std::uint32_t>(result.bytesReturned, record.outputLength);
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
