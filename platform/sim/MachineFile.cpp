// Reading a machine file: strict JSON, every field checked, every error naming the file and
// the field at fault.
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <map>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/sim/DefaultMachine.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace velo::sim {

namespace {

using Json = nlohmann::json;

constexpr std::string_view FORMAT_NAME = "velo-machine";
constexpr int FORMAT_VERSION = 1;
constexpr std::wstring_view DISK_CLASS_TEXT = L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr std::wstring_view STORAGE_PORT_CLASS_TEXT = L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";
constexpr std::wstring_view PHYSICAL_DRIVE_PREFIX = L"\\\\.\\PHYSICALDRIVE";

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void failAt(const std::string& path, const std::string& message) {
    throw LoadError(path.empty() ? message : path + ": " + message);
}

std::string join(const std::string& path, std::string_view field) {
    return path.empty() ? std::string(field) : path + "." + std::string(field);
}

std::string indexed(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

// An object whose fields must all be among the known ones.
void expectObject(const Json& value, const std::string& path,
                  std::initializer_list<std::string_view> known) {
    if (!value.is_object())
        failAt(path, "must be an object");
    for (const auto& item : value.items()) {
        if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
            failAt(join(path, item.key()), "unknown field");
        }
    }
}

const Json* field(const Json& object, std::string_view name) {
    auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

const Json& required(const Json& object, const std::string& path, std::string_view name) {
    const Json* value = field(object, name);
    if (!value)
        failAt(join(path, name), "missing");
    return *value;
}

std::uint64_t integer(const Json& value, const std::string& path, std::uint64_t low,
                      std::uint64_t high) {
    const std::string range =
        "must be an integer " + std::to_string(low) + ".." + std::to_string(high);
    if (!value.is_number_integer())
        failAt(path, range);
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number < low || number > high)
            failAt(path, range);
        return number;
    }
    const auto number = value.get<std::int64_t>();
    if (number < 0 || static_cast<std::uint64_t>(number) < low ||
        static_cast<std::uint64_t>(number) > high) {
        failAt(path, range);
    }
    return static_cast<std::uint64_t>(number);
}

bool boolean(const Json& value, const std::string& path) {
    if (!value.is_boolean())
        failAt(path, "must be true or false");
    return value.get<bool>();
}

std::string text(const Json& value, const std::string& path) {
    if (!value.is_string())
        failAt(path, "must be a text");
    return value.get<std::string>();
}

std::wstring wideText(const Json& value, const std::string& path, bool allowEmpty = true) {
    std::wstring result = fromUtf8(text(value, path));
    if (!allowEmpty && result.empty())
        failAt(path, "must not be empty");
    return result;
}

// A fixed-width identify field: one byte per character (U+0000 to U+00FF), padded with blanks.
template <std::size_t N>
std::array<std::uint8_t, N> fieldBytes(const Json& value, const std::string& path) {
    const std::string message =
        "must be a text of at most " + std::to_string(N) + " characters, each U+0000..U+00FF";
    if (!value.is_string())
        failAt(path, message);
    const std::wstring chars = fromUtf8(value.get<std::string>());
    if (chars.size() > N)
        failAt(path, message);
    std::array<std::uint8_t, N> bytes;
    bytes.fill(' ');
    for (std::size_t i = 0; i < chars.size(); ++i) {
        if (static_cast<std::uint32_t>(chars[i]) > 0xFF)
            failAt(path, message);
        bytes[i] = static_cast<std::uint8_t>(chars[i]);
    }
    return bytes;
}

std::string choice(const Json& value, const std::string& path,
                   std::initializer_list<std::string_view> allowed) {
    std::string message = "must be one of";
    for (std::string_view name : allowed)
        message += " \"" + std::string(name) + "\"";
    if (!value.is_string())
        failAt(path, message);
    std::string name = value.get<std::string>();
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
        failAt(path, message);
    return name;
}

std::vector<std::wstring> textList(const Json& value, const std::string& path) {
    if (!value.is_array())
        failAt(path, "must be a list of texts");
    std::vector<std::wstring> list;
    for (std::size_t i = 0; i < value.size(); ++i) {
        list.push_back(wideText(value[i], indexed(path, i), false));
    }
    return list;
}

// "\\?\" + the instance id with '\' as '#', in lower case, + "#" + the class.
std::wstring interfacePathFor(const std::wstring& instanceId, std::wstring_view classText) {
    std::wstring path = L"\\\\?\\";
    for (wchar_t c : lowerAscii(instanceId))
        path += (c == L'\\') ? L'#' : c;
    path += L'#';
    path += classText;
    return path;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

void readClock(const Json& value, const std::string& path, Machine& machine) {
    const std::string message =
        "must be \"system\", \"unreadable\" or a time \"YYYY-MM-DD hh:mm:ss\"";
    if (!value.is_string())
        failAt(path, message);
    const std::string setting = value.get<std::string>();
    if (setting == "system") {
        machine.clock = ClockMode::System;
        return;
    }
    if (setting == "unreadable") {
        machine.clock = ClockMode::Unreadable;
        return;
    }
    // YYYY-MM-DD hh:mm:ss
    const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (setting.size() != shape.size())
        failAt(path, message);
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(setting[i])) != 0;
        if (shape[i] == 'd' ? !digit : setting[i] != shape[i])
            failAt(path, message);
    }
    auto part = [&](std::size_t at, std::size_t length) {
        return std::stoi(setting.substr(at, length));
    };
    LocalTime time{part(0, 4), part(5, 2), part(8, 2), part(11, 2), part(14, 2), part(17, 2)};
    static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (time.year < 1601 || time.month < 1 || time.month > 12 || time.day < 1 || time.hour > 23 ||
        time.minute > 59 || time.second > 59) {
        failAt(path, "is not a valid time");
    }
    int days = DAYS[time.month - 1] + (time.month == 2 && isLeapYear(time.year) ? 1 : 0);
    if (time.day > days)
        failAt(path, "is not a valid time");
    machine.clock = ClockMode::Fixed;
    machine.fixedTime = time;
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

std::uint32_t systemError(const Json& value, const std::string& path) {
    return static_cast<std::uint32_t>(integer(value, path, 0, 0xFFFF));
}

RequestFault readRequestFault(const Json& value, const std::string& path) {
    expectObject(value, path, {"request", "nth", "andLater", "error", "status"});
    RequestFault fault;
    const std::string kindPath = join(path, "request");
    const std::string kind =
        choice(required(value, path, "request"), kindPath,
               {"device-number", "identify", "get-info", "download", "activate"});
    fault.kind = *requestKindFromName(kind);
    fault.nth = static_cast<std::uint32_t>(
        integer(required(value, path, "nth"), join(path, "nth"), 1, 0xFFFFFFFF));
    if (const Json* later = field(value, "andLater")) {
        fault.andLater = boolean(*later, join(path, "andLater"));
    }
    const Json* error = field(value, "error");
    const Json* status = field(value, "status");
    if ((error == nullptr) == (status == nullptr)) {
        failAt(path, "needs exactly one of \"error\" and \"status\"");
    }
    if (error) {
        fault.error = static_cast<std::uint32_t>(integer(*error, join(path, "error"), 1, 0xFFFF));
    } else {
        if (fault.kind == RequestKind::DeviceNumber || fault.kind == RequestKind::Identify) {
            failAt(join(path, "status"),
                   "only firmware requests (get-info, download, activate) answer a status");
        }
        fault.status =
            static_cast<std::uint32_t>(integer(*status, join(path, "status"), 0, 0xFFFFFFFF));
    }
    return fault;
}

DriveSetup readDrive(const Json& value, const std::string& path) {
    expectObject(value, path,
                 {"serial", "model", "firmwareRevision", "vendorId", "version", "fwug",
                  "upgradeSupport", "slots", "activeSlot", "activation"});
    DriveSetup drive;
    drive.serial = fieldBytes<SERIAL_LENGTH>(required(value, path, "serial"), join(path, "serial"));
    drive.model = fieldBytes<MODEL_LENGTH>(required(value, path, "model"), join(path, "model"));
    drive.runningRevision = fieldBytes<REVISION_LENGTH>(required(value, path, "firmwareRevision"),
                                                        join(path, "firmwareRevision"));
    if (const Json* vendor = field(value, "vendorId")) {
        drive.vendorId =
            static_cast<std::uint16_t>(integer(*vendor, join(path, "vendorId"), 0, 0xFFFF));
    }
    if (const Json* version = field(value, "version")) {
        const std::string versionPath = join(path, "version");
        const std::string message = "must be \"MAJOR.MINOR\", such as \"1.4\"";
        const std::string setting = text(*version, versionPath);
        const auto dot = setting.find('.');
        auto digits = [](std::string_view part) {
            return !part.empty() && part.size() <= 5 &&
                   std::all_of(part.begin(), part.end(),
                               [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
        };
        if (dot == std::string::npos || !digits(std::string_view(setting).substr(0, dot)) ||
            !digits(std::string_view(setting).substr(dot + 1))) {
            failAt(versionPath, message);
        }
        const int major = std::stoi(setting.substr(0, dot));
        const int minor = std::stoi(setting.substr(dot + 1));
        if (major > 0xFFFF || minor > 0xFF)
            failAt(versionPath, message);
        drive.versionMajor = static_cast<std::uint16_t>(major);
        drive.versionMinor = static_cast<std::uint8_t>(minor);
    }
    if (const Json* fwug = field(value, "fwug")) {
        drive.fwug = static_cast<std::uint8_t>(integer(*fwug, join(path, "fwug"), 0, 255));
        const bool before13 =
            drive.versionMajor < 1 || (drive.versionMajor == 1 && drive.versionMinor < 3);
        if (before13 && drive.fwug != 0) {
            failAt(join(path, "fwug"),
                   "must be 0 when version is below 1.3 (the field is reserved there)");
        }
    }
    if (const Json* support = field(value, "upgradeSupport")) {
        drive.upgradeSupport = boolean(*support, join(path, "upgradeSupport"));
    }
    if (const Json* activation = field(value, "activation")) {
        drive.activation =
            choice(*activation, join(path, "activation"), {"immediate", "reset"}) == "immediate"
                ? Activation::Immediate
                : Activation::Reset;
    }

    const std::string slotsPath = join(path, "slots");
    const Json& slots = required(value, path, "slots");
    if (!slots.is_array())
        failAt(slotsPath, "must be a list of slots");
    if (slots.size() > 7)
        failAt(slotsPath, "a drive has at most 7 slots");
    std::vector<bool> revisionGiven;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const std::string slotPath = indexed(slotsPath, i);
        expectObject(slots[i], slotPath, {"number", "readOnly", "revision"});
        FirmwareSlot slot;
        slot.number = static_cast<std::uint8_t>(
            integer(required(slots[i], slotPath, "number"), join(slotPath, "number"), 1, 7));
        for (const FirmwareSlot& earlier : drive.slots) {
            if (earlier.number == slot.number) {
                failAt(join(slotPath, "number"),
                       "slot " + std::to_string(slot.number) + " is listed twice");
            }
        }
        if (const Json* readOnly = field(slots[i], "readOnly")) {
            slot.readOnly = boolean(*readOnly, join(slotPath, "readOnly"));
        }
        slot.revision = drive.runningRevision;
        const Json* revision = field(slots[i], "revision");
        if (revision) {
            slot.revision = fieldBytes<REVISION_LENGTH>(*revision, join(slotPath, "revision"));
        }
        revisionGiven.push_back(revision != nullptr);
        drive.slots.push_back(slot);
    }
    const std::string activePath = join(path, "activeSlot");
    if (const Json* active = field(value, "activeSlot")) {
        drive.activeSlot = static_cast<std::uint8_t>(integer(*active, activePath, 1, 7));
    } else if (!drive.slots.empty()) {
        drive.activeSlot = drive.slots.front().number;
    }
    if (drive.slots.empty()) {
        if (field(value, "activeSlot"))
            failAt(activePath, "a drive without slots has none");
    } else {
        std::size_t activeIndex = drive.slots.size();
        for (std::size_t i = 0; i < drive.slots.size(); ++i) {
            if (drive.slots[i].number == drive.activeSlot)
                activeIndex = i;
        }
        if (activeIndex == drive.slots.size())
            failAt(activePath, "names no listed slot");
        if (revisionGiven[activeIndex] &&
            drive.slots[activeIndex].revision != drive.runningRevision) {
            failAt(join(indexed(slotsPath, activeIndex), "revision"),
                   "the active slot holds the running firmware, so it must equal "
                   "firmwareRevision");
        }
    }
    return drive;
}

struct Loader {
    Machine& machine;
    std::map<std::wstring, std::string> instanceIds;  // upper-cased id -> where it was given
    std::map<std::wstring, std::string> paths;        // upper-cased path -> where it was given
    std::map<std::uint32_t, std::string> deviceNumbers;

    void claimInstanceId(const std::wstring& id, const std::string& where) {
        auto [it, fresh] = instanceIds.emplace(upperAscii(id), where);
        if (!fresh)
            failAt(where, "the instance id is already used by " + it->second);
    }

    void addFile(DeviceFileEntry file, const std::string& where) {
        auto [it, fresh] = paths.emplace(upperAscii(file.path), where);
        if (!fresh) {
            failAt(where,
                   "the path \"" + toUtf8(file.path) + "\" is already used by " + it->second);
        }
        machine.files.push_back(std::move(file));
    }

    std::uint32_t nextDevInst() { return static_cast<std::uint32_t>(machine.devices.size() + 1); }

    void readDisk(const Json& value, const std::string& path, const std::wstring& parent) {
        expectObject(value, path,
                     {"instanceId", "hardwareIds", "deviceNumber", "interfacePath",
                      "driverDescription", "locationInfo", "faults", "drive"});
        Device device;
        device.instanceId =
            wideText(required(value, path, "instanceId"), join(path, "instanceId"), false);
        claimInstanceId(device.instanceId, join(path, "instanceId"));
        device.parent = parent;
        const std::string idsPath = join(path, "hardwareIds");
        device.hardwareIds = textList(required(value, path, "hardwareIds"), idsPath);
        if (device.hardwareIds.empty())
            failAt(idsPath, "must hold at least one id");
        device.driverDescription = L"Disk drive";
        if (const Json* desc = field(value, "driverDescription")) {
            device.driverDescription = wideText(*desc, join(path, "driverDescription"));
        }
        device.locationInfo = L"Bus Number 0, Target Id 0, LUN 0";
        if (const Json* location = field(value, "locationInfo")) {
            device.locationInfo = wideText(*location, join(path, "locationInfo"));
        }
        std::wstring interfacePath = interfacePathFor(device.instanceId, DISK_CLASS_TEXT);
        if (const Json* given = field(value, "interfacePath")) {
            interfacePath = wideText(*given, join(path, "interfacePath"), false);
        }
        device.interfaces.push_back({DISK_INTERFACE_CLASS, interfacePath});
        device.devInst = nextDevInst();

        Disk disk;
        const std::string numberPath = join(path, "deviceNumber");
        disk.deviceNumber = static_cast<std::uint32_t>(
            integer(required(value, path, "deviceNumber"), numberPath, 0, 9999));
        auto [it, fresh] = deviceNumbers.emplace(disk.deviceNumber, path);
        if (!fresh) {
            failAt(numberPath, std::to_string(disk.deviceNumber) +
                                   " is already the device number of " + it->second);
        }
        disk.driver = DriverStack::Inbox;

        if (const Json* faults = field(value, "faults")) {
            const std::string faultsPath = join(path, "faults");
            expectObject(
                *faults, faultsPath,
                {"openInterface", "openPhysicalDrive", "unreadable", "requests", "getInfo"});
            if (const Json* open = field(*faults, "openInterface")) {
                disk.faults.openInterface = systemError(*open, join(faultsPath, "openInterface"));
            }
            if (const Json* open = field(*faults, "openPhysicalDrive")) {
                disk.faults.openPhysicalDrive =
                    systemError(*open, join(faultsPath, "openPhysicalDrive"));
            }
            if (const Json* unreadable = field(*faults, "unreadable")) {
                device.unreadable =
                    readUnreadable(*unreadable, join(faultsPath, "unreadable"), true);
            }
            if (const Json* requests = field(*faults, "requests")) {
                const std::string requestsPath = join(faultsPath, "requests");
                if (!requests->is_array())
                    failAt(requestsPath, "must be a list of faults");
                for (std::size_t i = 0; i < requests->size(); ++i) {
                    disk.faults.requests.push_back(
                        readRequestFault((*requests)[i], indexed(requestsPath, i)));
                }
            }
            if (const Json* getInfo = field(*faults, "getInfo")) {
                const std::string infoPath = join(faultsPath, "getInfo");
                expectObject(*getInfo, infoPath, {"slotCount", "dataBufferOffset"});
                if (const Json* count = field(*getInfo, "slotCount")) {
                    disk.faults.getInfo.slotCount = static_cast<std::uint8_t>(
                        integer(*count, join(infoPath, "slotCount"), 0, 255));
                }
                if (const Json* offset = field(*getInfo, "dataBufferOffset")) {
                    disk.faults.getInfo.dataBufferOffset = static_cast<std::uint32_t>(
                        integer(*offset, join(infoPath, "dataBufferOffset"), 0, 0xFFFFFFFF));
                }
            }
        }
        disk.drive = std::make_unique<NvmeDrive>(
            readDrive(required(value, path, "drive"), join(path, "drive")));

        const std::size_t diskIndex = machine.disks.size();
        disk.device = machine.devices.size();
        DeviceFileEntry byInterface{interfacePath, DeviceFileEntry::Target::Disk, diskIndex,
                                    disk.faults.openInterface};
        addFile(std::move(byInterface), join(path, "interfacePath"));
        DeviceFileEntry byNumber{
            std::wstring(PHYSICAL_DRIVE_PREFIX) + std::to_wstring(disk.deviceNumber),
            DeviceFileEntry::Target::Disk, diskIndex, disk.faults.openPhysicalDrive};
        addFile(std::move(byNumber), numberPath);
        machine.devices.push_back(std::move(device));
        machine.disks.push_back(std::move(disk));
    }

    void readController(const Json& value, const std::string& path, std::size_t ordinal) {
        expectObject(value, path,
                     {"instanceId", "driver", "driverDescription", "locationInfo", "hardwareIds",
                      "storagePortPath", "faults", "disks"});
        Device device;
        device.instanceId =
            wideText(required(value, path, "instanceId"), join(path, "instanceId"), false);
        claimInstanceId(device.instanceId, join(path, "instanceId"));
        choice(required(value, path, "driver"), join(path, "driver"), {"inbox"});
        device.driverDescription = L"Standard NVM Express Controller";
        if (const Json* desc = field(value, "driverDescription")) {
            device.driverDescription = wideText(*desc, join(path, "driverDescription"));
        }
        device.locationInfo =
            L"PCI bus " + std::to_wstring(ordinal + 1) + L", device 0, function 0";
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
                device.unreadable =
                    readUnreadable(*unreadable, join(faultsPath, "unreadable"), false);
            }
        }
        device.devInst = nextDevInst();
        const std::wstring instanceId = device.instanceId;
        addFile({portPath, DeviceFileEntry::Target::StoragePort, machine.devices.size(), openError},
                join(path, "storagePortPath"));
        machine.devices.push_back(std::move(device));

        if (const Json* disks = field(value, "disks")) {
            const std::string disksPath = join(path, "disks");
            if (!disks->is_array())
                failAt(disksPath, "must be a list of disks");
            for (std::size_t i = 0; i < disks->size(); ++i) {
                readDisk((*disks)[i], indexed(disksPath, i), instanceId);
            }
        }
    }

    void readMachine(const Json& root) {
        expectObject(
            root, "",
            {"format", "version", "description", "startup", "clock", "faults", "controllers"});
        const Json& format = required(root, "", "format");
        if (!format.is_string() || format.get<std::string>() != FORMAT_NAME) {
            failAt("format", "must be \"velo-machine\"");
        }
        const Json& version = required(root, "", "version");
        if (!version.is_number_integer() || version.get<std::int64_t>() != FORMAT_VERSION) {
            failAt("version", "must be 1 (the only version this program reads)");
        }
        if (const Json* description = field(root, "description")) {
            text(*description, "description");
        }
        if (const Json* startup = field(root, "startup")) {
            const std::string name =
                choice(*startup, "startup", {"ok", "module-handle-failed", "framework-failed"});
            machine.startup = name == "ok"                     ? StartupStatus::Ok
                              : name == "module-handle-failed" ? StartupStatus::ModuleHandleFailed
                                                               : StartupStatus::FrameworkFailed;
        }
        if (const Json* clock = field(root, "clock"))
            readClock(*clock, "clock", machine);
        if (const Json* faults = field(root, "faults")) {
            expectObject(*faults, "faults", {"deviceSets"});
            if (const Json* sets = field(*faults, "deviceSets")) {
                if (!sets->is_array())
                    failAt("faults.deviceSets", "must be a list of set names");
                for (std::size_t i = 0; i < sets->size(); ++i) {
                    const std::string name = choice((*sets)[i], indexed("faults.deviceSets", i),
                                                    {"disk", "storage-port", "all-classes"});
                    if (name == "disk")
                        machine.failDiskSet = true;
                    if (name == "storage-port")
                        machine.failStoragePortSet = true;
                    if (name == "all-classes")
                        machine.failAllClassesSet = true;
                }
            }
        }
        if (const Json* controllers = field(root, "controllers")) {
            if (!controllers->is_array())
                failAt("controllers", "must be a list of controllers");
            for (std::size_t i = 0; i < controllers->size(); ++i) {
                readController((*controllers)[i], indexed("controllers", i), i);
            }
        }
    }
};

// Notes the first field name that appears twice in one object; the parser itself keeps the
// last one silently.
struct DuplicateCheck {
    std::vector<std::set<std::string>> open;
    std::string duplicate;

    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
                open.emplace_back();
                break;
            case Json::parse_event_t::object_end:
                if (!open.empty())
                    open.pop_back();
                break;
            case Json::parse_event_t::key:
                if (!open.empty() && !open.back().insert(parsed.get<std::string>()).second &&
                    duplicate.empty()) {
                    duplicate = parsed.get<std::string>();
                }
                break;
            default:
                break;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<Machine> loadMachineText(std::string_view json, const std::string& sourceName,
                                         std::string& error) {
    try {
        DuplicateCheck duplicates;
        Json root;
        try {
            root = Json::parse(json.begin(), json.end(), std::ref(duplicates));
        } catch (const Json::parse_error& e) {
            // The library's text already names the line and column.
            std::string what = e.what();
            if (auto at = what.find("] "); at != std::string::npos)
                what = what.substr(at + 2);
            throw LoadError(what);
        }
        if (!duplicates.duplicate.empty()) {
            throw LoadError("field \"" + duplicates.duplicate + "\" appears twice in one object");
        }
        auto machine = std::make_unique<Machine>();
        Loader loader{*machine, {}, {}, {}};
        loader.readMachine(root);
        return machine;
    } catch (const LoadError& e) {
        error = sourceName + ": " + e.what();
    } catch (const std::exception& e) {
        error = sourceName + ": " + e.what();
    }
    return nullptr;
}

std::unique_ptr<Machine> loadMachineFile(const std::wstring& path, std::string& error) {
    std::string content;
    if (!readFileFromDisk(path, content)) {
        error = toUtf8(path) + ": cannot be read";
        return nullptr;
    }
    return loadMachineText(content, toUtf8(path), error);
}

std::unique_ptr<Machine> loadDefaultMachine() {
    std::string error;
    auto machine = loadMachineText(defaultMachineText(), "default machine", error);
    // The embedded file is checked by the tests; should it ever be broken, run on an empty
    // machine rather than on none.
    return machine ? std::move(machine) : std::make_unique<Machine>();
}

}  // namespace velo::sim
