#include "stacks/inbox/PhysicalDrives.h"
#include "platform/Console.h"

#include <gtest/gtest.h>

#include "tests/sim/SimTestSupport.h"

namespace velo {
namespace {

using nlohmann::json;
using sim::testing::baseMachine;

json disk(int number, std::string serialSuffix) {
    json entry = baseMachine()["controllers"][0]["disks"][0];
    entry["instanceId"] = "SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\5&CC" + serialSuffix;
    entry["deviceNumber"] = number;
    return entry;
}

json controller(std::string instanceId, std::vector<json> disks) {
    return {{"instanceId", std::move(instanceId)}, {"driver", "inbox"}, {"disks", disks}};
}

const std::string MAKER = "PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01\\4&AAAA&0&00";

struct Enumeration {
    explicit Enumeration(const json& controllers) {
        json machine = {{"format", "velo-machine"}, {"version", 1}, {"controllers", controllers}};
        platform = std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(machine));
        Console console(*platform);
        Io io{*platform, console};
        completed = enumeratePhysicalDrives(io, discovered);
    }
    std::vector<std::wstring> paths() const {
        std::vector<std::wstring> list;
        for (const auto& record : discovered)
            list.push_back(record.devicePath);
        return list;
    }

    std::unique_ptr<sim::SimPlatform> platform;
    DiskList discovered;
    bool completed = false;
};

TEST(PhysicalDrives, CandidatesOfTheMakerInMemberOrder) {
    Enumeration run(json::array({controller(MAKER + "08", {disk(12, "1"), disk(0, "2")})}));
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.paths(),
              (std::vector<std::wstring>{L"\\\\.\\PHYSICALDRIVE12", L"\\\\.\\PHYSICALDRIVE0"}));
    for (const DiskRecord& candidate : run.discovered) {
        EXPECT_EQ(candidate.driverKind, DriverKind::Inbox);
        EXPECT_EQ(candidate.targetAddress, -1);
        EXPECT_EQ(candidate.updateGranularity, 1);
        EXPECT_EQ(candidate.vrocDiskId, 0u);
        EXPECT_EQ(candidate.resultCode, 0);
        EXPECT_TRUE(candidate.modelNumber.empty() && candidate.serialNumber.empty() &&
                    candidate.firmwareRevision.empty());
    }
}

TEST(PhysicalDrives, ParentMustNameTheMakerInUpperCase) {
    Enumeration run(json::array({
        controller("PCI\\VEN_8086&DEV_0A54\\4&1&0&0010", {disk(1, "1")}),
        controller("PCI\\ven_7a3c&dev_0b21\\4&2&0&0018", {disk(2, "2")}),
        controller(MAKER + "20", {disk(3, "3")}),
    }));
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.paths(), (std::vector<std::wstring>{L"\\\\.\\PHYSICALDRIVE3"}));
}

TEST(PhysicalDrives, HardwareIdsMustNameNvmeOnce) {
    json noNvme = disk(1, "1");
    noNvme["hardwareIds"] = {"SCSI\\DiskVANTORA_QX7B2", "GenDisk"};
    json lowerCase = disk(2, "2");
    lowerCase["hardwareIds"] = {"SCSI\\Disknvme____VANTORA", "GenDisk"};
    json twice = disk(3, "3");
    twice["hardwareIds"] = {"SCSI\\DiskNVMe____A", "SCSI\\DiskNVMe____B", "GenDisk"};
    Enumeration run(json::array({controller(MAKER + "08", {noNvme, lowerCase, twice})}));
    EXPECT_EQ(run.paths(), (std::vector<std::wstring>{L"\\\\.\\PHYSICALDRIVE3"}));
    // The disk with two NVMe ids was opened and asked for its number once.
    EXPECT_EQ(run.platform->machine().requestsOfKind(sim::RequestKind::DeviceNumber).size(), 1u);
}

TEST(PhysicalDrives, UnopenableMatchingDiskEndsTheWalk) {
    json locked = disk(1, "1");
    locked["faults"] = {{"openInterface", 5}};
    Enumeration run(json::array({controller(MAKER + "08", {locked, disk(2, "2")})}));
    EXPECT_FALSE(run.completed);
    EXPECT_TRUE(run.discovered.empty());

    json lockedLater = disk(2, "2");
    lockedLater["faults"] = {{"openInterface", 5}};
    Enumeration later(json::array({controller(MAKER + "08", {disk(1, "1"), lockedLater})}));
    EXPECT_FALSE(later.completed);
    EXPECT_EQ(later.paths(), (std::vector<std::wstring>{L"\\\\.\\PHYSICALDRIVE1"}));
}

TEST(PhysicalDrives, FailedDeviceNumberSkipsOnlyThatDisk) {
    json silent = disk(1, "1");
    silent["faults"] = {{"requests", {{{"request", "device-number"}, {"nth", 1}, {"error", 31}}}}};
    Enumeration run(json::array({controller(MAKER + "08", {silent, disk(2, "2")})}));
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.paths(), (std::vector<std::wstring>{L"\\\\.\\PHYSICALDRIVE2"}));
}

TEST(PhysicalDrives, UnreadablePropertiesSkipTheDisk) {
    for (const char* property : {"parent", "instance-id", "hardware-ids", "interface-detail"}) {
        json hidden = disk(1, "1");
        hidden["faults"] = {{"unreadable", {property}}};
        Enumeration run(json::array({controller(MAKER + "08", {hidden, disk(2, "2")})}));
        EXPECT_TRUE(run.completed) << property;
        EXPECT_EQ(run.paths(), (std::vector<std::wstring>{L"\\\\.\\PHYSICALDRIVE2"})) << property;
    }
}

TEST(PhysicalDrives, NoDiskSetNoCandidate) {
    json machine = baseMachine();
    machine["faults"] = {{"deviceSets", {"disk"}}};
    sim::SimPlatform platform(sim::testing::loadOrFail(machine));
    Console console(platform);
    Io io{platform, console};
    DiskList discovered;
    EXPECT_FALSE(enumeratePhysicalDrives(io, discovered));
    EXPECT_TRUE(discovered.empty());
}

TEST(PhysicalDrives, NoDiskOfTheMakerCompletesEmpty) {
    Enumeration run(json::array());
    EXPECT_TRUE(run.completed);
    EXPECT_TRUE(run.discovered.empty());
}

}  // namespace
}  // namespace velo
