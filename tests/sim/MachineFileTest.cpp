// The machine-file loader: good files load into the machine they describe; every bad file is
// refused with a text that names the file and the field at fault.
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/Text.h"
#include "sim/DefaultMachine.h"
#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using testing::baseMachine;
using testing::firstDisk;
using testing::firstDrive;
using Json = nlohmann::json;

std::string loadError(const Json& machine) {
    std::string error;
    auto loaded = loadMachineText(machine.dump(), "test.json", error);
    EXPECT_FALSE(loaded) << "accepted: " << machine.dump();
    return error;
}

TEST(MachineFile, DefaultMachineIsTheExampleFileWithOneQx7b2) {
    std::ifstream file(std::string(VELO_SOURCE_DIR) + "/examples/default.json", std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_EQ(defaultMachineText(), content.str());

    auto machine = loadDefaultMachine();
    ASSERT_EQ(machine->disks.size(), 1u);
    const Disk& disk = machine->disks[0];
    const Device& device = machine->devices[disk.device];
    EXPECT_NE(device.parent.find(L"VEN_7A3C"), std::wstring::npos);
    bool nvmeId = false;
    for (const auto& id : device.hardwareIds)
        nvmeId |= id.find(L"NVMe") != std::wstring::npos;
    EXPECT_TRUE(nvmeId);
    EXPECT_EQ(disk.drive->runningRevision(), "QLR2KAXA");
    EXPECT_EQ(disk.drive->setup().fwug, 1);
    EXPECT_EQ(disk.drive->setup().versionMajor, 1);
    EXPECT_EQ(disk.drive->setup().versionMinor, 4);
    EXPECT_EQ(disk.drive->setup().activation, Activation::Immediate);
}

TEST(MachineFile, EveryExampleLoads) {
    int count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(VELO_SOURCE_DIR) + "/examples")) {
        if (entry.path().extension() != ".json")
            continue;
        std::string error;
        EXPECT_TRUE(loadMachineFile(entry.path().wstring(), error)) << error;
        ++count;
    }
    EXPECT_GE(count, 7);
}

TEST(MachineFile, BuildsTheDeviceTreeAndFilesItDescribes) {
    auto machine = testing::loadOrFail(baseMachine());
    ASSERT_EQ(machine->devices.size(), 2u);
    const Device& controller = machine->devices[0];
    const Device& disk = machine->devices[1];
    EXPECT_EQ(disk.parent, controller.instanceId);
    EXPECT_EQ(controller.driverDescription, L"Standard NVM Express Controller");
    EXPECT_EQ(controller.hardwareIds,
              std::vector<std::wstring>{L"PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01"});
    EXPECT_EQ(disk.locationInfo, L"Bus Number 0, Target Id 0, LUN 0");
    EXPECT_NE(controller.devInst, disk.devInst);
    ASSERT_EQ(disk.interfaces.size(), 1u);
    EXPECT_EQ(disk.interfaces[0].path,
              L"\\\\?\\scsi#disk&ven_nvme&prod_vantora_qx7b2#5&bbbb&0&000000#"
              L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_TRUE(machine->findFile(L"\\\\.\\PHYSICALDRIVE3"));
    EXPECT_TRUE(machine->findFile(disk.interfaces[0].path));
    EXPECT_FALSE(machine->findFile(L"\\\\.\\PHYSICALDRIVE03"));
}

TEST(MachineFile, IdentifyTextsArePaddedWithBlanksAndKeepGivenZeroBytes) {
    Json machine = baseMachine();
    firstDrive(machine)["model"] = std::string("QX7B2\0\0", 7);
    auto loaded = testing::loadOrFail(machine);
    const auto identify = loaded->drive(3)->identifyController();
    EXPECT_EQ(std::string(identify.begin() + 4, identify.begin() + 24), "SN0001              ");
    EXPECT_EQ(std::string(identify.begin() + 24, identify.begin() + 31),
              std::string("QX7B2\0\0", 7));
    EXPECT_EQ(identify[31], ' ');
    EXPECT_EQ(std::string(identify.begin() + 64, identify.begin() + 72), "QLR2KAXA");
}

TEST(MachineFile, MachineSettingsReachThePlatform) {
    Json machine = baseMachine();
    machine["startup"] = "framework-failed";
    machine["clock"] = "2024-02-29 23:59:58";
    SimPlatform platform(testing::loadOrFail(machine));
    EXPECT_EQ(platform.startUp(), StartupStatus::FrameworkFailed);
    auto time = platform.localTime();
    ASSERT_TRUE(time);
    EXPECT_EQ(time->year, 2024);
    EXPECT_EQ(time->day, 29);
    EXPECT_EQ(time->second, 58);

    machine["clock"] = "unreadable";
    SimPlatform unreadable(testing::loadOrFail(machine));
    EXPECT_FALSE(unreadable.localTime());
}

struct BadCase {
    const char* name;
    std::function<void(Json&)> change;
    std::string expected;  // the whole error text after "test.json: "
};

TEST(MachineFile, RefusesBadFilesNamingFileAndField) {
    const std::string drive = "controllers[0].disks[0].drive";
    const std::string disk = "controllers[0].disks[0]";
    const std::vector<BadCase> cases = {
        {"unknown top field", [](Json& m) { m["colour"] = "red"; }, "colour: unknown field"},
        {"wrong format", [](Json& m) { m["format"] = "other"; },
         "format: must be \"velo-machine\""},
        {"missing version", [](Json& m) { m.erase("version"); }, "version: missing"},
        {"future version", [](Json& m) { m["version"] = 2; },
         "version: must be 1 (the only version this program reads)"},
        {"unknown drive field", [](Json& m) { firstDrive(m)["speed"] = 3; },
         drive + ".speed: unknown field"},
        {"fwug too big", [](Json& m) { firstDrive(m)["fwug"] = 256; },
         drive + ".fwug: must be an integer 0..255"},
        {"fwug as text", [](Json& m) { firstDrive(m)["fwug"] = "1"; },
         drive + ".fwug: must be an integer 0..255"},
        {"fwug negative", [](Json& m) { firstDrive(m)["fwug"] = -1; },
         drive + ".fwug: must be an integer 0..255"},
        {"fwug fraction", [](Json& m) { firstDrive(m)["fwug"] = 1.5; },
         drive + ".fwug: must be an integer 0..255"},
        {"bad version", [](Json& m) { firstDrive(m)["version"] = "1.4.0"; },
         drive + ".version: must be \"MAJOR.MINOR\", such as \"1.4\""},
        {"serial too long", [](Json& m) { firstDrive(m)["serial"] = std::string(21, 'S'); },
         drive + ".serial: must be a text of at most 20 characters, each U+0000..U+00FF"},
        {"revision beyond one byte",
         [](Json& m) { firstDrive(m)["firmwareRevision"] = "QLR\u20AC"; },
         drive + ".firmwareRevision: must be a text of at most 8 characters, each U+0000..U+00FF"},
        {"slot number 8", [](Json& m) { firstDrive(m)["slots"][1]["number"] = 8; },
         drive + ".slots[1].number: must be an integer 1..7"},
        {"slot listed twice", [](Json& m) { firstDrive(m)["slots"][2]["number"] = 2; },
         drive + ".slots[2].number: slot 2 is listed twice"},
        {"active slot not listed", [](Json& m) { firstDrive(m)["activeSlot"] = 5; },
         drive + ".activeSlot: names no listed slot"},
        {"active slot revision differs",
         [](Json& m) { firstDrive(m)["slots"][0]["revision"] = "OTHERREV"; },
         drive + ".slots[0].revision: the active slot holds the running firmware, so it must "
                 "equal firmwareRevision"},
        {"activation unknown", [](Json& m) { firstDrive(m)["activation"] = "later"; },
         drive + ".activation: must be one of \"immediate\" \"reset\""},
        {"driver not modelled", [](Json& m) { m["controllers"][0]["driver"] = "vroc"; },
         "controllers[0].driver: must be one of \"inbox\" \"rst\""},
        {"device number twice",
         [](Json& m) {
             Json second = m["controllers"][0];
             second["instanceId"] = "PCI\\VEN_7A3C&DEV_0B21\\4&CCCC&0&0010";
             second["disks"][0]["instanceId"] = "SCSI\\DISK\\5&DDDD";
             m["controllers"].push_back(second);
         },
         "controllers[1].disks[0].deviceNumber: 3 is already the device number of " + disk},
        {"instance id twice (any case)",
         [](Json& m) {
             firstDisk(m)["instanceId"] =
                 "pci\\ven_7a3c&dev_0b21&subsys_b2017a3c&rev_01\\4&aaaa&0&0008";
         },
         disk + ".instanceId: the instance id is already used by controllers[0].instanceId"},
        {"path twice", [](Json& m) { firstDisk(m)["interfacePath"] = "\\\\.\\PhysicalDrive3"; },
         disk + ".deviceNumber: the path \"\\\\.\\PHYSICALDRIVE3\" is already used by " + disk +
             ".interfacePath"},
        {"fault with error and status",
         [](Json& m) {
             firstDisk(m)["faults"] = Json::parse(
                 R"({"requests": [{"request": "download", "nth": 1, "error": 31, "status": 1}]})");
         },
         disk + ".faults.requests[0]: needs exactly one of \"error\" and \"status\""},
        {"status for identify",
         [](Json& m) {
             firstDisk(m)["faults"] =
                 Json::parse(R"({"requests": [{"request": "identify", "nth": 1, "status": 1}]})");
         },
         disk + ".faults.requests[0].status: only firmware requests (get-info, download, "
                "activate) answer a status"},
        {"fault nth zero",
         [](Json& m) {
             firstDisk(m)["faults"] =
                 Json::parse(R"({"requests": [{"request": "download", "nth": 0, "error": 1}]})");
         },
         disk + ".faults.requests[0].nth: must be an integer 1..4294967295"},
        {"unknown unreadable property",
         [](Json& m) { firstDisk(m)["faults"] = Json::parse(R"({"unreadable": ["colour"]})"); },
         disk + ".faults.unreadable[0]: must be one of \"parent\" \"instance-id\" "
                "\"hardware-ids\" \"driver-description\" \"location-info\" \"interface-detail\""},
        {"impossible date", [](Json& m) { m["clock"] = "2023-02-29 10:00:00"; },
         "clock: is not a valid time"},
        {"clock shape", [](Json& m) { m["clock"] = "noon"; },
         "clock: must be \"system\", \"unreadable\" or a time \"YYYY-MM-DD hh:mm:ss\""},
    };
    for (const BadCase& bad : cases) {
        Json machine = baseMachine();
        bad.change(machine);
        EXPECT_EQ(loadError(machine), "test.json: " + bad.expected) << bad.name;
    }
}

TEST(MachineFile, SetsListMembersBySetOrderAndInterfacesSkipMembersWithout) {
    // Disks A (setOrder 5), B (no interface, no hardware ids), C: the set lists B, C, A.
    Json machine = baseMachine();
    Json& disks = machine["controllers"][0]["disks"];
    for (const char* name : {"B", "C"}) {
        Json disk = disks[0];
        disk["instanceId"] = std::string("SCSI\\DISK\\") + name;
        disk["deviceNumber"] = name[0] == 'B' ? 4 : 5;
        disks.push_back(disk);
    }
    disks[0]["setOrder"] = 5;
    disks[1]["interfacePath"] = nullptr;
    disks[1]["hardwareIds"] = Json::array();
    SimPlatform platform(testing::loadOrFail(machine));
    auto set = platform.deviceInfoSet(DISK_INTERFACE_CLASS, 0x12);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->textProperty(0, PROPERTY_INSTANCE_ID),
              std::optional<std::wstring>(L"SCSI\\DISK\\B"));
    EXPECT_EQ(set->textProperty(1, PROPERTY_INSTANCE_ID),
              std::optional<std::wstring>(L"SCSI\\DISK\\C"));
    EXPECT_EQ(set->hardwareIds(0), std::optional(std::vector<std::wstring>{}));
    for (std::uint32_t i = 0; i < 2; ++i) {
        DeviceInterface found;
        ASSERT_EQ(set->interfaceAt(DISK_INTERFACE_CLASS, i, found), InterfaceLookup::Found);
        EXPECT_EQ(found.member, i + 1);
        EXPECT_EQ(found.devInst, *set->deviceAt(i + 1));
    }
    DeviceInterface none;
    EXPECT_EQ(set->interfaceAt(DISK_INTERFACE_CLASS, 2, none), InterfaceLookup::Absent);
    EXPECT_FALSE(
        platform.machine().findFile(L"\\\\?\\scsi#disk#b#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"));
    EXPECT_TRUE(platform.machine().findFile(L"\\\\.\\PHYSICALDRIVE4"));
}

TEST(MachineFile, RefusesBadNewFieldsNamingTheField) {
    const std::string disk = "controllers[0].disks[0]";
    const std::string rst = "controllers[1]";
    // Adds rstMachine()'s controller second and applies the change to it.
    auto onRst = [](std::function<void(Json&)> change) {
        return [change](Json& m) {
            m["controllers"].push_back(testing::rstMachine()["controllers"][0]);
            change(m["controllers"][1]);
        };
    };
    auto portFault = [&](const char* fault) {
        return onRst(
            [fault](Json& c) { c["faults"]["requests"] = Json::array({Json::parse(fault)}); });
    };
    const std::vector<BadCase> cases = {
        {"performed without status",
         [](Json& m) {
             firstDisk(m)["faults"]["requests"] = Json::parse(
                 R"([{"request": "download", "nth": 1, "error": 5, "performed": true}])");
         },
         disk + ".faults.requests[0].performed: only a fault with a \"status\" is performed"},
        {"info offset inside the request block",
         [](Json& m) { firstDisk(m)["faults"]["getInfo"]["infoOffset"] = 51; },
         disk + ".faults.getInfo.infoOffset: must be an integer 52..4294967295"},
        {"rst disk without a number, with its open fault", onRst([](Json& c) {
             c["disks"][0].erase("deviceNumber");
             c["disks"][0]["faults"]["openPhysicalDrive"] = 5;
         }),
         rst + ".disks[0].faults.openPhysicalDrive: a disk without a device number has no "
               "physical-drive path"},
        {"path id twice", onRst([](Json& c) { c["drives"][1]["pathId"] = 0; }),
         rst + ".drives[1].pathId: path id 0 is already used by " + rst + ".drives[0]"},
        {"drive count on identify",
         portFault(R"({"request": "identify", "nth": 1, "driveCount": 1})"),
         rst + ".faults.requests[0].driveCount: only a raid-config reply states a drive count"},
        {"drive count with an error",
         portFault(R"({"request": "raid-config", "nth": 1, "error": 5, "driveCount": 1})"),
         rst + ".faults.requests[0]: an \"error\" fails the call, so no reply states "
               "\"driveCount\""},
    };
    for (const BadCase& bad : cases) {
        Json machine = baseMachine();
        bad.change(machine);
        EXPECT_EQ(loadError(machine), "test.json: " + bad.expected) << bad.name;
    }
}

TEST(MachineFile, RefusesBadScsiPortsNamingTheField) {
    const std::string port = "scsiPorts[0]";
    auto onPort = [](std::function<void(Json&)> change) {
        return [change](Json& m) { change(m["scsiPorts"][0]); };
    };
    auto faults = [](const char* list) {
        return [list](Json& m) { m["scsiPorts"][0]["faults"]["requests"] = Json::parse(list); };
    };
    const std::vector<BadCase> cases = {
        {"port twice",
         [](Json& m) { m["scsiPorts"].push_back(Json::parse(R"({"port": 2, "driver": "none"})")); },
         "scsiPorts[1].port: port 2 is already used by " + port},
        {"port 16", onPort([](Json& p) { p["port"] = 16; }),
         port + ".port: must be an integer 0..15"},
        {"disk id twice", onPort([](Json& p) { p["disks"][1]["diskId"] = 256; }),
         port + ".disks[1].diskId: disk id 256 is already used by " + port + ".disks[0]"},
        {"member not listed", onPort([](Json& p) { p["volume"]["members"][1] = 300; }),
         port + ".volume.members[1]: disk id 300 is not listed on the port"},
        {"serial of 49", onPort([](Json& p) { p["disks"][2]["serial"] = std::string(49, 'S'); }),
         port + ".disks[2].serial: must be a text of at most 48 characters, each U+0000..U+00FF"},
        {"count below 32 bits", onPort([](Json& p) { p["diskCount"] = -2147483649LL; }),
         port + ".diskCount: must be an integer -2147483648..4294967295"},
        {"disks without the driver", onPort([](Json& p) { p["driver"] = "none"; }),
         port + ".disks: only a port with the \"vroc\" driver has it"},
        {"completion on a query",
         faults(R"([{"request": "disk-list", "nth": 1, "completion": 131072}])"),
         port + ".faults.requests[0].completion: only a pass-through (identify, download, commit) "
                "has a completion entry"},
    };
    for (const BadCase& bad : cases) {
        Json machine = testing::vrocMachine();
        bad.change(machine);
        EXPECT_EQ(loadError(machine), "test.json: " + bad.expected) << bad.name;
    }
}

TEST(MachineFile, RefusesTextThatIsNotOneJsonObject) {
    std::string error;
    EXPECT_FALSE(loadMachineText("{\n  \"format\": \"velo-machine\",\n  \"version\": \n}",
                                 "broken.json", error));
    EXPECT_EQ(error, "broken.json: is not valid JSON (line 4, column 1)");

    EXPECT_FALSE(loadMachineText("{\"description\": \"caf\xE9\"}", "latin1.json", error));
    EXPECT_EQ(error, "latin1.json: is not UTF-8 text (byte offset 20)");

    EXPECT_FALSE(loadMachineText(R"({"format": "velo-machine", "version": 1, "version": 1})",
                                 "twice.json", error));
    EXPECT_EQ(error, "twice.json: field \"version\" appears twice in one object");

    EXPECT_FALSE(loadMachineText("[]", "list.json", error));
    EXPECT_EQ(error, "list.json: must be an object");

    // Quoted names show their control characters escaped; a number no double holds is named by
    // its field like any other value out of range.
    const std::pair<std::string, std::string> cases[] = {
        {R"({"\u001b[2J\u0000x": 1})", "\\u001b[2J\\u0000x: unknown field"},
        {R"({"a\u0085": 1, "a\u0085": 1})", "field \"a\\u0085\" appears twice in one object"},
        {R"({"clock": 1e400})", "clock: is a number out of range"},
        {R"({"scsiPorts": [1, [-1E999]]})", "scsiPorts[1][0]: is a number out of range"},
        {R"({"controllers": [{"setOrder": )" + std::string(1000000, '9') + "}]}",
         "controllers[0].setOrder: is a number out of range"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_FALSE(loadMachineText(text, "m\r.json", error));
        EXPECT_EQ(error, "m\\u000d.json: " + expected);
    }
}

TEST(MachineFile, UnreadableFileIsNamed) {
    std::string error;
    EXPECT_FALSE(loadMachineFile(L"/no/such/dir/machine.json", error));
    EXPECT_EQ(error, "/no/such/dir/machine.json: cannot be opened: No such file or directory");
}

}  // namespace
}  // namespace velo::sim
