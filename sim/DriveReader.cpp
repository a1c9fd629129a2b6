// The drive object of a machine file: identity, version, granularity, slots and activation.
#include <algorithm>
#include <cctype>

#include "sim/MachineReader.h"

namespace velo::sim {

DriveSetup readDrive(const Json& value, const std::string& path) {
    expectObject(
        value, path,
        {"serial", "model", "firmwareRevision", "vendorId", "version", "fwug", "upgradeSupport",
         "slots", "activeSlot", "pendingSlot", "activation", "keepsRevision"});
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
    }
    if (const Json* support = field(value, "upgradeSupport")) {
        drive.upgradeSupport = boolean(*support, join(path, "upgradeSupport"));
    }
    if (const Json* keeps = field(value, "keepsRevision")) {
        drive.keepsRevision = boolean(*keeps, join(path, "keepsRevision"));
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
        if (const Json* pending = field(value, "pendingSlot")) {
            const std::string pendingPath = join(path, "pendingSlot");
            const auto number = static_cast<std::uint8_t>(integer(*pending, pendingPath, 1, 7));
            if (std::none_of(drive.slots.begin(), drive.slots.end(),
                             [&](const FirmwareSlot& slot) { return slot.number == number; })) {
                failAt(pendingPath, "names no listed slot");
            }
            drive.pendingSlot = number;
        }
        if (revisionGiven[activeIndex] &&
            drive.slots[activeIndex].revision != drive.runningRevision) {
            failAt(join(indexed(slotsPath, activeIndex), "revision"),
                   "the active slot holds the running firmware, so it must equal "
                   "firmwareRevision");
        }
    }
    return drive;
}

}  // namespace velo::sim
