#include "platform/sim/SimPlatform.h"

#include <algorithm>
#include <ctime>

#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/sim/Machine.h"

namespace velo::sim {

namespace {

// The present devices of one set, by member index. The set keeps the indices it was built
// with, as a SetupAPI set keeps its snapshot.
class SimDeviceInfoSet : public DeviceInfoSet {
public:
    SimDeviceInfoSet(Machine& machine, std::vector<std::size_t> members)
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
        // Interfaces of the class are numbered across the set's members, in member order.
        std::uint32_t seen = 0;
        for (std::uint32_t position = 0; position < members_.size(); ++position) {
            const Device& device = machine_.devices[members_[position]];
            for (const DeviceInterfaceEntry& entry : device.interfaces) {
                if (!(entry.interfaceClass == interfaceClass) || !entry.exposed)
                    continue;
                if (seen++ != index)
                    continue;
                if (device.unreadable.interfaceDetail)
                    return InterfaceLookup::DetailFailed;
                found.devicePath = entry.path;
                found.devInst = device.devInst;
                found.member = position;
                return InterfaceLookup::Found;
            }
        }
        return InterfaceLookup::Absent;
    }

private:
    const Device* member(std::uint32_t index) const {
        if (index >= members_.size())
            return nullptr;
        return &machine_.devices[members_[index]];
    }

    Machine& machine_;
    std::vector<std::size_t> members_;
};

class SimDeviceFile : public DeviceFile {
public:
    SimDeviceFile(Machine& machine, const DeviceFileEntry& entry)
        : machine_(machine), entry_(entry) {}

    ControlResult control(std::uint32_t controlCode, std::span<std::uint8_t> buffer,
                          std::uint32_t inputLength, std::uint32_t outputLength) override {
        return machine_.control(entry_, controlCode, buffer, inputLength, outputLength);
    }

private:
    Machine& machine_;
    DeviceFileEntry entry_;
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

std::unique_ptr<DeviceInfoSet> SimPlatform::deviceInfoSet(const Guid& interfaceClass,
                                                          std::uint32_t flags) {
    std::vector<std::size_t> members;
    const auto& devices = machine_->devices;
    if ((flags & SET_ALL_CLASSES) != 0) {
        // Every device; with SET_DEVICE_INTERFACE, those that expose any interface.
        if (machine_->failAllClassesSet)
            return nullptr;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const auto& interfaces = devices[i].interfaces;
            if ((flags & SET_DEVICE_INTERFACE) == 0 ||
                std::any_of(interfaces.begin(), interfaces.end(),
                            [](const DeviceInterfaceEntry& entry) { return entry.exposed; })) {
                members.push_back(i);
            }
        }
    } else if ((flags & SET_DEVICE_INTERFACE) != 0) {
        if (interfaceClass == DISK_INTERFACE_CLASS && machine_->failDiskSet)
            return nullptr;
        if (interfaceClass == STORAGE_PORT_INTERFACE_CLASS && machine_->failStoragePortSet) {
            return nullptr;
        }
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
    // so the set is empty. Every device of the model is present, so SET_PRESENT changes
    // nothing.
    std::stable_sort(members.begin(), members.end(), [&devices](std::size_t a, std::size_t b) {
        return devices[a].setOrder < devices[b].setOrder;
    });
    return std::make_unique<SimDeviceInfoSet>(*machine_, std::move(members));
}

OpenResult SimPlatform::openDevice(const std::wstring& path, std::uint32_t access,
                                   std::uint32_t share, std::uint32_t flags) {
    std::uint32_t error = 0;
    const DeviceFileEntry* entry = machine_->open(path, access, share, flags, error);
    if (!entry)
        return {nullptr, error};
    return {std::make_unique<SimDeviceFile>(*machine_, *entry), 0};
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

}  // namespace velo::sim
