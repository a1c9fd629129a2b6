#include "sim/SimPlatform.h"

#include <algorithm>
#include <ctime>

#include "platform/LocalFiles.h"
#include "platform/SystemFacts.h"
#include "platform/SystemSha256.h"
#include "platform/Text.h"
#include "sim/Machine.h"

namespace velo::sim {

namespace {

// The present devices of one set, by member index. The set keeps the indices it was built
// with, as a SetupAPI set keeps its snapshot; sets of one kind share one list.
class SimDeviceInfoSet : public DeviceInfoSet {
public:
    SimDeviceInfoSet(Machine& machine, std::shared_ptr<const std::vector<std::size_t>> members)
        : machine_(machine), members_(std::move(members)) {}

    std::optional<std::uint32_t> deviceAt(std::uint32_t index) override {
        const Device* device = member(index);
        if (!device)
            return std::nullopt;
        return device->devInst;
    }

    std::optional<std::wstring> textProperty(std::uint32_t index, const PropertyKey& key) override {
        const Device* device = member(index);
        if (!device)
            return std::nullopt;
        if (key == PROPERTY_PARENT) {
            if (device->unreadable.parent || device->parent.empty())
                return std::nullopt;
            return device->parent;
        }
        if (key == PROPERTY_INSTANCE_ID) {
            if (device->unreadable.instanceId)
                return std::nullopt;
            return device->instanceId;
        }
        if (key == PROPERTY_DRIVER_DESC) {
            if (device->unreadable.driverDescription || device->driverDescription.empty()) {
                return std::nullopt;
            }
            return device->driverDescription;
        }
        if (key == PROPERTY_LOCATION_INFO) {
            if (device->unreadable.locationInfo || device->locationInfo.empty()) {
                return std::nullopt;
            }
            return device->locationInfo;
        }
        return std::nullopt;
    }

    std::optional<std::vector<std::wstring>> hardwareIds(std::uint32_t index) override {
        const Device* device = member(index);
        if (!device || device->unreadable.hardwareIds)
            return std::nullopt;
        return device->hardwareIds;
    }

    InterfaceLookup interfaceAt(const Guid& interfaceClass, std::uint32_t index,
                                DeviceInterface& found) override {
        const std::vector<InterfaceAt>& numbered = interfacesOf(interfaceClass);
        if (index >= numbered.size())
            return InterfaceLookup::Absent;
        const InterfaceAt at = numbered[index];
        const Device& device = machine_.devices[(*members_)[at.member]];
        if (device.unreadable.interfaceDetail)
            return InterfaceLookup::DetailFailed;
        found.devicePath = device.interfaces[at.entry].path;
        found.devInst = device.devInst;
        found.member = at.member;
        return InterfaceLookup::Found;
    }

private:
    struct InterfaceAt {
        std::uint32_t member;  // position in the set
        std::size_t entry;     // index into the device's interfaces
    };

    const Device* member(std::uint32_t index) const {
        if (index >= members_->size())
            return nullptr;
        return &machine_.devices[(*members_)[index]];
    }

    // The exposed interfaces of the class, numbered across the set's members in member order,
    // as SetupAPI numbers them; listed on the first look-up of the class.
    const std::vector<InterfaceAt>& interfacesOf(const Guid& interfaceClass) {
        for (const auto& [listed, numbered] : interfaces_) {
            if (listed == interfaceClass)
                return numbered;
        }
        std::vector<InterfaceAt> numbered;
        for (std::uint32_t position = 0; position < members_->size(); ++position) {
            const Device& device = machine_.devices[(*members_)[position]];
            for (std::size_t entry = 0; entry < device.interfaces.size(); ++entry) {
                if (device.interfaces[entry].interfaceClass == interfaceClass &&
                    device.interfaces[entry].exposed) {
                    numbered.push_back({position, entry});
                }
            }
        }
        interfaces_.emplace_back(interfaceClass, std::move(numbered));
        return interfaces_.back().second;
    }

    Machine& machine_;
    std::shared_ptr<const std::vector<std::size_t>> members_;
    std::vector<std::pair<Guid, std::vector<InterfaceAt>>> interfaces_;
};

class SimDeviceFile : public DeviceFile {
public:
    SimDeviceFile(Machine& machine, std::size_t file) : machine_(machine), file_(file) {}

    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength, std::uint32_t outputLength) override {
        return machine_.control(file_, controlCode, buffer, inputLength, outputLength);
    }

private:
    Machine& machine_;
    std::size_t file_;  // index into Machine::files
};

}  // namespace

SimPlatform::SimPlatform(std::unique_ptr<Machine> machine, Echo echo)
    : machine_(machine ? std::move(machine) : std::make_unique<Machine>()), echo_(std::move(echo)) {
    if (machine_->clock == ClockMode::Fixed)
        fixedTime_ = machine_->fixedTime;
    clockReadable_ = machine_->clock != ClockMode::Unreadable;
}

SimPlatform::~SimPlatform() = default;

StartupStatus SimPlatform::startUp() {
    return machine_->startup;
}

RunLockResult SimPlatform::takeRunLock() {
    if (machine_->runLockHeld)
        return {RunLockOutcome::HeldElsewhere, nullptr, 0};
    return runLockTaken();
}

std::unique_ptr<DeviceInfoSet> SimPlatform::deviceInfoSet(const Guid& interfaceClass,
                                                          std::uint32_t flags) {
    if ((flags & SET_ALL_CLASSES) != 0) {
        if (machine_->failAllClassesSet)
            return nullptr;
    } else if ((flags & SET_DEVICE_INTERFACE) != 0) {
        if (interfaceClass == DISK_INTERFACE_CLASS && machine_->failDiskSet)
            return nullptr;
        if (interfaceClass == STORAGE_PORT_INTERFACE_CLASS && machine_->failStoragePortSet) {
            return nullptr;
        }
    }
    return std::make_unique<SimDeviceInfoSet>(*machine_, setMembers(interfaceClass, flags));
}

std::shared_ptr<const std::vector<std::size_t>> SimPlatform::setMembers(const Guid& interfaceClass,
                                                                        std::uint32_t flags) {
    // Only SET_ALL_CLASSES and SET_DEVICE_INTERFACE choose the members (every device of the
    // model is present, so SET_PRESENT changes nothing); the class matters without
    // SET_ALL_CLASSES. The device tree does not change once loaded, so each kind of set is
    // listed once.
    const std::uint32_t kind = flags & (SET_ALL_CLASSES | SET_DEVICE_INTERFACE);
    const Guid key = (flags & SET_ALL_CLASSES) != 0 ? Guid{} : interfaceClass;
    if (listedDevices_ != machine_->devices.size()) {
        setLists_.clear();
        listedDevices_ = machine_->devices.size();
    }
    for (const SetList& list : setLists_) {
        if (list.kind == kind && list.interfaceClass == key)
            return list.members;
    }

    std::vector<std::size_t> members;
    const auto& devices = machine_->devices;
    if ((flags & SET_ALL_CLASSES) != 0) {
        // Every device; with SET_DEVICE_INTERFACE, those that expose any interface.
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const auto& interfaces = devices[i].interfaces;
            if ((flags & SET_DEVICE_INTERFACE) == 0 ||
                std::any_of(interfaces.begin(), interfaces.end(),
                            [](const DeviceInterfaceEntry& entry) { return entry.exposed; })) {
                members.push_back(i);
            }
        }
    } else if ((flags & SET_DEVICE_INTERFACE) != 0) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            for (const DeviceInterfaceEntry& entry : devices[i].interfaces) {
                if (entry.interfaceClass == interfaceClass) {
                    members.push_back(i);
                    break;
                }
            }
        }
    }
    // Without either flag the class is a setup class; none of the model's devices has one,
    // so the set is empty.
    std::stable_sort(members.begin(), members.end(), [&devices](std::size_t a, std::size_t b) {
        return devices[a].setOrder < devices[b].setOrder;
    });
    setLists_.push_back(
        {kind, key, std::make_shared<const std::vector<std::size_t>>(std::move(members))});
    return setLists_.back().members;
}

OpenResult SimPlatform::openDevice(const std::wstring& path, std::uint32_t access,
                                   std::uint32_t share, std::uint32_t flags) {
    std::uint32_t error = 0;
    const auto file = machine_->open(path, access, share, flags, error);
    if (!file)
        return {nullptr, error};
    return {std::make_unique<SimDeviceFile>(*machine_, *file), 0};
}

void SimPlatform::showMessage(const std::wstring& caption, const std::wstring& text) {
    messages_.push_back({caption, text});
    if (echo_.err) {
        echo_.err("[message box] " + toUtf8(caption) + "\n" + toUtf8(text) + "\n");
    }
}

void SimPlatform::setClock(std::optional<LocalTime> time, bool readable) {
    fixedTime_ = time;
    clockReadable_ = readable;
}

std::optional<LocalTime> SimPlatform::localTime() {
    if (!clockReadable_)
        return std::nullopt;
    if (fixedTime_)
        return fixedTime_;
    std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    if (localtime_s(&parts, &now) != 0)
        return std::nullopt;
#else
    if (localtime_r(&now, &parts) == nullptr)
        return std::nullopt;
#endif
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

// A simulated machine keeps its clock in UTC: a fixed local time is the same time in UTC.
std::optional<UniversalTime> SimPlatform::universalTime() {
    if (!clockReadable_)
        return std::nullopt;
    if (fixedTime_)
        return fixedTime_;
    return systemUniversalTime();
}

std::string SimPlatform::computerName() {
    return machine_->computerName;
}

void SimPlatform::writeOutput(std::string_view bytes) {
    output_.append(bytes);
    if (echo_.out)
        echo_.out(bytes);
}

void SimPlatform::writeErrorOutput(std::string_view bytes) {
    errorOutput_.append(bytes);
    if (echo_.err)
        echo_.err(bytes);
}

FileWriteResult SimPlatform::writeTextFile(const std::wstring& path, std::string_view text) {
    return writeTextFileToDisk(path, text);
}

std::optional<Sha256Digest> SimPlatform::sha256(std::span<const std::uint8_t> bytes) {
    return systemSha256(bytes);
}

}  // namespace velo::sim
