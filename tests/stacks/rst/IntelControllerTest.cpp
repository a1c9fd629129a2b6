// Controller classification on simulated machines: the Intel RAID port, the candidates behind
// Intel controllers and the bus number of a pass-through disk.
#include "stacks/rst/IntelController.h"

#include <gtest/gtest.h>

#include "platform/Console.h"
#include "tests/sim/SimTestSupport.h"

namespace velo {
namespace {

using nlohmann::json;

const std::string INTEL = "PCI\\VEN_8086&DEV_A77F&SUBSYS_00008086&REV_00\\3&11583659&0&";
const std::string VOLUME = "SCSI\\DISK&VEN_INTEL&PROD_RAID_0_VOLUME\\4&1B5F2E7&0&";
const std::string NVME_DISK = "SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\4&1B5F2E7&0&";

json rstController(const std::string& suffix, std::vector<json> disks) {
    return {{"instanceId", INTEL + suffix}, {"driver", "rst"}, {"disks", disks}};
}

json passThrough(const std::string& suffix, int bus) {
    return {{"instanceId", NVME_DISK + suffix},
            {"locationInfo", "Bus Number " + std::to_string(bus) + ", Target Id 0, LUN 0"}};
}

json volume(const std::string& suffix) {
    return {{"instanceId", VOLUME + suffix}};
}

// Classification on a machine of these controllers, as the scan pass runs it.
struct Classification {
    explicit Classification(const json& controllers) {
        json machine = {{"format", "velo-machine"}, {"version", 1}, {"controllers", controllers}};
        platform = std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(machine));
        Console console(*platform);
        Io io{*platform, console};
        portFound = findIntelRaidPort(io, portPath);
        if (portFound)
            walkCompleted = enumerateIntelDisks(io, portPath, discovered);
    }
    std::vector<std::pair<DriverKind, std::int64_t>> candidates() const {
        std::vector<std::pair<DriverKind, std::int64_t>> list;
        for (const DiskRecord& record : discovered) {
            EXPECT_EQ(record.devicePath, portPath);
            list.emplace_back(record.driverKind, record.targetAddress);
        }
        return list;
    }
    std::unique_ptr<sim::SimPlatform> platform;
    std::wstring portPath;
    DiskList discovered;
    bool portFound = false;
    bool walkCompleted = false;
};

using Kind = DriverKind;
using Candidates = std::vector<std::pair<DriverKind, std::int64_t>>;

TEST(IntelController, PortOfAnIntelRaidController) {
    // The default port path spells the vendor in lower case; it is matched upper-cased.
    Classification run(json::array({rstController("B8", {volume("00"), passThrough("03", 3)})}));
    ASSERT_TRUE(run.portFound);
    EXPECT_NE(run.portPath.find(L"ven_8086"), std::wstring::npos);
    EXPECT_TRUE(run.walkCompleted);
    EXPECT_EQ(run.candidates(), (Candidates{{Kind::RstRaid, -1}, {Kind::RstPassThrough, 3}}));
    // The port was opened once, for the test, with the overlapped flags.
    const auto& opens = run.platform->machine().opens();
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens[0].path, run.portPath);
    EXPECT_EQ(opens[0].flags, OPEN_FLAGS_NORMAL_OVERLAPPED);
}

TEST(IntelController, DescriptionMustNameAnIntelRaidController) {
    const std::vector<std::pair<const char*, bool>> descriptions = {
        {"Intel(R) Chipset SATA/PCIe RST Premium Controller", true},
        {"Intel(R) RAID Controller", true},
        {"Intel(R) NVMe Controller", false},
        {"Intel(R) rst Controller", false},
        {"Intel(R) Raid Controller", false},
        {"INTEL(R) RST Controller", false},
        {"Intel(R) RST controller", false},
    };
    for (const auto& [description, matches] : descriptions) {
        json controller = rstController("B8", {passThrough("03", 3)});
        controller["driverDescription"] = description;
        Classification run(json::array({controller}));
        EXPECT_EQ(run.portFound, matches) << description;
    }
}

TEST(IntelController, OnlyTheFirstIntelPortCountsAndEveryDiskCarriesIt) {
    Classification run(json::array({
        rstController("B8", {passThrough("03", 3)}),
        rstController("C0", {passThrough("05", 5), volume("01"), volume("02")}),
    }));
    ASSERT_TRUE(run.portFound);
    EXPECT_NE(run.portPath.find(L"&b8#"), std::wstring::npos);
    EXPECT_EQ(run.candidates(), (Candidates{{Kind::RstPassThrough, 3},
                                            {Kind::RstPassThrough, 5},
                                            {Kind::RstRaid, -1},
                                            {Kind::RstRaid, -1}}));
}

TEST(IntelController, DiskBehindIntelThatIsNoVolumeIsPassThrough) {
    json sata = passThrough("04", 4);
    sata["instanceId"] = "SCSI\\DISK&VEN_&PROD_ST1000DM010\\4&1B5F2E7&0&040000";
    json noLocation = passThrough("06", 6);
    noLocation["locationInfo"] = "PCI bus 0, device 23, function 0";
    json unreadable = passThrough("07", 7);
    unreadable["faults"] = {{"unreadable", {"location-info"}}};
    Classification run(json::array({rstController("B8", {sata, noLocation, unreadable})}));
    EXPECT_EQ(run.candidates(), (Candidates{{Kind::RstPassThrough, 4},
                                            {Kind::RstPassThrough, -1},
                                            {Kind::RstPassThrough, -1}}));
}

TEST(IntelController, UnopenablePassThroughDiskEndsTheWalk) {
    json locked = passThrough("05", 5);
    locked["faults"] = {{"openInterface", 5}};
    Classification run(json::array(
        {rstController("B8", {volume("00"), passThrough("03", 3), locked, volume("01")})}));
    EXPECT_FALSE(run.walkCompleted);
    EXPECT_EQ(run.candidates(), (Candidates{{Kind::RstRaid, -1}, {Kind::RstPassThrough, 3}}));
}

TEST(IntelController, NoPortFound) {
    struct Case {
        const char* name;
        std::function<void(json&)> change;
    };
    const std::vector<Case> cases = {
        {"not an Intel path",
         [](json& c) { c["storagePortPath"] = "\\\\?\\pci#ven_144d&dev_a808#4&1#{2accfe60}"; }},
        {"port does not open",
         [](json& c) {
             c["faults"] = {{"openStoragePort", 5}};
         }},
        {"instance id unreadable",
         [](json& c) {
             c["faults"] = {{"unreadable", {"instance-id"}}};
         }},
        {"description unreadable",
         [](json& c) {
             c["faults"] = {{"unreadable", {"driver-description"}}};
         }},
    };
    for (const Case& c : cases) {
        json controller = rstController("B8", {passThrough("03", 3)});
        c.change(controller);
        Classification run(json::array({controller}));
        EXPECT_FALSE(run.portFound) << c.name;
    }
}

TEST(IntelController, PortInterfacesFollowTheSetsNumbering) {
    // An inbox port listed first but without an interface: interface 0 is the Intel port's,
    // found at member index 0, and its properties are the Intel device's own.
    json inbox = {{"instanceId", "PCI\\VEN_7A3C&DEV_0B21\\4&AAAA&0&0008"},
                  {"driver", "inbox"},
                  {"storagePortPath", nullptr}};
    json intel = rstController("B8", {passThrough("03", 3)});
    intel["setOrder"] = 1;
    Classification run(json::array({inbox, intel}));
    EXPECT_TRUE(run.portFound);

    // A port whose interface detail cannot be read ends the search, even before an Intel one.
    json broken = {{"instanceId", "PCI\\VEN_7A3C&DEV_0B21\\4&AAAA&0&0008"},
                   {"driver", "inbox"},
                   {"faults", {{"unreadable", {"interface-detail"}}}}};
    Classification stopped(json::array({broken, intel}));
    EXPECT_FALSE(stopped.portFound);
}

TEST(IntelController, BusNumberTexts) {
    struct Case {
        const wchar_t* text;
        int expected;
    };
    const Case cases[] = {
        {L"Bus Number 3, Target Id 0, LUN 0", 3},
        {L"Bus Number 12, Target Id 0, LUN 0", 12},
        {L"Bus Number   7, Target Id 0, LUN 0", 7},  // blanks before the number are skipped
        {L"Bus Number 2147483647, Target Id 0", 2147483647},
        {L"Bus Number , Target Id 0, LUN 0", 0},  // no digit after the second blank
        {L"Bus Number x3, Target Id 0", 0},
        {L"Bus Number -3, Target Id 0", 0},  // digits only, no sign
        {L"PCI Bus Number 3, Target Id 0", 0},
        {L"Bus Number 3 Target Id 0 LUN 0", -1},      // no comma
        {L"Port 1, Bus Number 3, Target Id 0", -1},   // one blank before the first comma
        {L"Bus Number 2147483648, Target Id 0", -1},  // too large for an int
        {L"Bus Number 99999999999999999999999, Target Id 0", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseBusNumber(c.text), c.expected) << ::testing::PrintToString(c.text);
    }
}

}  // namespace
}  // namespace velo
