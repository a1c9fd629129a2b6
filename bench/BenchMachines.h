// Simulated machines the benchmarks generate: many disks for a scan, many updated drives for a
// whole run, one drive per stack for an update. Built as JSON text in the machine-file format.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace velo::bench {

using Json = nlohmann::ordered_json;

inline constexpr const char* MAKER_CONTROLLER =
    "PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01\\4&2F1A3B5C&0&0008";
inline constexpr const char* OTHER_CONTROLLER =
    "PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\\4&2F1A3B5C&0&0010";
inline constexpr const char* RST_CONTROLLER =
    "PCI\\VEN_8086&DEV_A77F&SUBSYS_00008086&REV_00\\3&11583659&0&B8";
// What the RST benchmarks open: the storage-port path of RST_CONTROLLER.
inline constexpr const wchar_t* RST_PORT_PATH =
    L"\\\\?\\pci#ven_8086&dev_a77f&subsys_00008086&rev_00#3&11583659&0&b8#"
    L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";
// An RST controller reaches at most this many drives, one per path id.
inline constexpr std::size_t RST_PATH_IDS = 256;

inline std::string numbered(const char* format, std::size_t n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

inline Json machine() {
    return Json{{"format", "velo-machine"}, {"version", 1}};
}

// A QX7B2 at QLR2KAXA with two writable slots (or another maker's drive).
inline Json drive(std::size_t n, int fwug, bool maker = true) {
    return Json{{"serial", numbered(maker ? "VQX7B2A%011zu" : "OTHER%015zu", n)},
                {"model", maker ? "VANTORA QX7B2 1TB" : "OTHERCO SSD 512G"},
                {"firmwareRevision", maker ? "QLR2KAXA" : "1.0"},
                {"fwug", fwug},
                {"slots", Json::array({{{"number", 1}}, {{"number", 2}}})}};
}

// An inbox disk with device number n and its drive.
inline Json inboxDisk(std::size_t n, int fwug, bool maker = true) {
    return Json{{"instanceId",
                 numbered(maker ? "SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\5&1C2D3E4F&0&%06zX"
                                : "SCSI\\DISK&VEN_NVME&PROD_OTHERCO_SSD_512G\\5&3A4B5C6D&0&%06zX",
                          n)},
                {"hardwareIds", Json::array({maker ? "SCSI\\DiskNVMe____VANTORA_QX7B2_1TB"
                                                   : "SCSI\\DiskNVMe____OTHERCO_SSD_512G",
                                             "GenDisk"})},
                {"deviceNumber", n},
                {"drive", drive(n, fwug, maker)}};
}

// A pass-through disk on bus n behind the RST controller (its drive sits at path id n % 256).
inline Json rstDisk(std::size_t n) {
    return Json{
        {"instanceId", numbered("SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\4&1F2E3D4C&0&%06zX", n)},
        {"deviceNumber", n},
        {"locationInfo", numbered("Bus Number %zu, Target Id 0, LUN 0", n % RST_PATH_IDS)}};
}

inline Json controller(const char* instanceId, const char* driver, Json disks) {
    return Json{{"instanceId", instanceId}, {"driver", driver}, {"disks", std::move(disks)}};
}

inline Json rstController(Json disks, std::size_t driveCount, int fwug) {
    Json drives = Json::array();
    for (std::size_t id = 0; id < driveCount && id < RST_PATH_IDS; ++id)
        drives.push_back({{"pathId", id}, {"drive", drive(id, fwug)}});
    Json section = controller(RST_CONTROLLER, "rst", std::move(disks));
    section["drives"] = std::move(drives);
    return section;
}

// The kinds of machine a scan runs on.
enum class ScanMachine {
    Inbox,  // every disk a QX7B2 on the inbox driver: each is opened and identified
    Other,  // every disk another maker's: none is opened
    Rst,    // pass-through disks behind one RST controller, drives at their path ids
    Mixed,  // in turn: a QX7B2 on the inbox driver, another maker's disk, an RST pass-through
};

inline std::string scanMachine(ScanMachine kind, std::size_t disks) {
    Json maker = Json::array(), other = Json::array(), rst = Json::array();
    for (std::size_t n = 0; n < disks; ++n) {
        const ScanMachine each =
            kind == ScanMachine::Mixed ? static_cast<ScanMachine>(n % 3) : kind;
        switch (each) {
            case ScanMachine::Inbox:
                maker.push_back(inboxDisk(n, 1));
                break;
            case ScanMachine::Other:
                other.push_back(inboxDisk(n, 1, false));
                break;
            default:
                rst.push_back(rstDisk(n));
                break;
        }
    }
    Json result = machine();
    Json controllers = Json::array();
    if (!maker.empty())
        controllers.push_back(controller(MAKER_CONTROLLER, "inbox", std::move(maker)));
    if (!other.empty())
        controllers.push_back(controller(OTHER_CONTROLLER, "inbox", std::move(other)));
    if (!rst.empty()) {
        const std::size_t count = rst.size();
        controllers.push_back(rstController(std::move(rst), count, 1));
    }
    result["controllers"] = std::move(controllers);
    return result.dump();
}

// A machine of `drives` QX7B2 on the inbox driver, all updated by a run.
inline std::string updatedDrivesMachine(std::size_t drives) {
    Json disks = Json::array();
    for (std::size_t n = 0; n < drives; ++n)
        disks.push_back(inboxDisk(n, 1));
    Json result = machine();
    result["controllers"] = Json::array({controller(MAKER_CONTROLLER, "inbox", std::move(disks))});
    return result.dump();
}

// One drive per stack for a single update at the given granularity.
inline std::string inboxMachine(int fwug) {
    Json result = machine();
    result["controllers"] =
        Json::array({controller(MAKER_CONTROLLER, "inbox", Json::array({inboxDisk(0, fwug)}))});
    return result.dump();
}

// One pass-through drive at path id 3 behind the RST controller.
inline std::string rstMachine(int fwug) {
    Json result = machine();
    Json section = controller(RST_CONTROLLER, "rst", Json::array());
    section["drives"] = Json::array({{{"pathId", 3}, {"drive", drive(0, fwug)}}});
    result["controllers"] = Json::array({std::move(section)});
    return result.dump();
}

// One non-RAID disk with disk id 257 on SCSI port 2 behind the VROC driver.
inline std::string vrocMachine(int fwug) {
    Json result = machine();
    result["scsiPorts"] =
        Json::array({{{"port", 2},
                      {"driver", "vroc"},
                      {"disks", Json::array({{{"diskId", 257}, {"drive", drive(0, fwug)}}})}}});
    return result.dump();
}

}  // namespace velo::bench
