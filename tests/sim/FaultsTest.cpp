// Fault switches of the machine file: each makes exactly the request, open, property or set it
// names fail, and nothing else.
#include <stdexcept>

#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;
using Json = nlohmann::json;

Json withFaults(const char* faults) {
    Json machine = baseMachine();
    firstDisk(machine)["faults"] = Json::parse(faults);
    return machine;
}

TEST(Faults, NthDownloadAnswersTheGivenStatusAndIsNotStaged) {
    OpenDisk disk(withFaults(R"({"requests": [{"request": "download", "nth": 3, "status": 1}]})"));
    std::vector<std::uint32_t> statuses;
    for (std::uint64_t at = 0; at < 5 * 4096; at += 4096) {
        auto buffer = downloadRequest(at, std::vector<std::uint8_t>(4096, 9));
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
        statuses.push_back(get32(buffer, 20));
    }
    EXPECT_EQ(statuses, (std::vector<std::uint32_t>{0, 0, 1, 0, 0}));
    EXPECT_EQ(disk.drive().stagedPieces().size(), 4u);
    EXPECT_FALSE(disk.drive().stagedIsWhole());
    const auto downloads = disk.platform.machine().requestsOfKind(RequestKind::Download);
    ASSERT_EQ(downloads.size(), 5u);
    EXPECT_TRUE(downloads[2].faultInjected);
    EXPECT_FALSE(downloads[3].faultInjected);
}

TEST(Faults, AndLaterRepeatsTheFaultForEveryLaterRequest) {
    OpenDisk disk(withFaults(
        R"({"requests": [{"request": "download", "nth": 2, "andLater": true, "error": 1117}]})"));
    std::vector<bool> ok;
    for (std::uint64_t at = 0; at < 4 * 4096; at += 4096) {
        auto buffer = downloadRequest(at, std::vector<std::uint8_t>(4096, 9));
        auto result = disk.send(SCSI_MINIPORT, buffer);
        ok.push_back(result.ok);
        if (!result.ok) {
            EXPECT_EQ(result.error, 1117u);
        }
    }
    EXPECT_EQ(ok, (std::vector<bool>{true, false, false, false}));
}

TEST(Faults, ErrorFaultsFailTheCallOfEachKind) {
    struct Case {
        const char* kind;
        std::uint32_t code;
        std::function<std::vector<std::uint8_t>()> request;
    };
    const std::vector<Case> cases = {
        {"device-number", GET_DEVICE_NUMBER, [] { return std::vector<std::uint8_t>(12); }},
        {"identify", QUERY_PROPERTY, identifyRequest},
        {"get-info", SCSI_MINIPORT, getInfoRequest},
        {"activate", SCSI_MINIPORT, [] { return activateRequest(2); }},
    };
    for (const Case& c : cases) {
        Json machine = baseMachine();
        firstDisk(machine)["faults"]["requests"] =
            Json::array({{{"request", c.kind}, {"nth", 2}, {"error", 31}}});
        OpenDisk disk(machine);
        auto inputLength = [&](const std::vector<std::uint8_t>& b) {
            return c.code == GET_DEVICE_NUMBER ? 0u : static_cast<std::uint32_t>(b.size());
        };
        auto first = c.request();
        EXPECT_TRUE(disk.send(c.code, first, inputLength(first)).ok) << c.kind;
        auto second = c.request();
        const auto before = second;
        auto result = disk.send(c.code, second, inputLength(second));
        EXPECT_FALSE(result.ok) << c.kind;
        EXPECT_EQ(result.error, 31u) << c.kind;
        EXPECT_EQ(second, before) << c.kind;
    }
}

TEST(Faults, ActivationStatusFaultLeavesTheDriveUnchanged) {
    OpenDisk disk(withFaults(R"({"requests": [{"request": "activate", "nth": 1, "status": 7}]})"));
    const auto image = testImage("NEWREV01");
    auto piece = downloadRequest(0, image, static_cast<std::uint32_t>(image.size()));
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, piece).ok);
    auto buffer = activateRequest(2);
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 7u);
    EXPECT_TRUE(disk.drive().slotImage(2).empty());
    EXPECT_EQ(disk.drive().runningRevision(), "QLR2KAXA");
}

TEST(Faults, MalformedRequestIsRefusedEvenWhenAFaultIsDue) {
    OpenDisk disk(withFaults(R"({"requests": [{"request": "get-info", "nth": 1, "status": 0}]})"));
    auto buffer = getInfoRequest();
    put32(buffer, 28, 9);
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 3u);
}

TEST(Faults, GetInfoNonsenseCountAndOffsetAreWrittenIntoTheAnswer) {
    OpenDisk disk(withFaults(R"({"getInfo": {"slotCount": 200, "dataBufferOffset": 4294967040}})"));
    auto buffer = getInfoRequest();
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(get32(buffer, 20), 0u);
    EXPECT_EQ(get32(buffer, 44), 4294967040u);
    EXPECT_EQ(buffer[61], 200);
    EXPECT_EQ(buffer[68], 1) << "the real entries still stand at the offset used";
}

TEST(Faults, DriveWithoutSlotsReportsNone) {
    Json machine = baseMachine();
    firstDrive(machine)["slots"] = Json::array();
    firstDrive(machine).erase("activeSlot");
    OpenDisk disk(machine);
    auto buffer = getInfoRequest();
    ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    EXPECT_EQ(buffer[61], 0);
    EXPECT_EQ(buffer[62], 0);
}

TEST(Faults, OpenFaultsFailTheNamedPathOnly) {
    SimPlatform platform(loadOrFail(withFaults(R"({"openPhysicalDrive": 5})")));
    const std::wstring interfacePath = platform.machine().devices[1].interfaces[0].path;
    auto byNumber = platform.openDevice(L"\\\\.\\PHYSICALDRIVE3", 0xC0000000, 3, 0);
    EXPECT_FALSE(byNumber.file);
    EXPECT_EQ(byNumber.error, 5u);
    EXPECT_TRUE(platform.openDevice(interfacePath, 0xC0000000, 3, 0).file);
    EXPECT_TRUE(platform.openDevice(L"\\\\.\\physicaldrive3", 0xC0000000, 3, 0).error == 5u);

    auto missing = platform.openDevice(L"\\\\.\\PHYSICALDRIVE4", 0xC0000000, 3, 0);
    EXPECT_FALSE(missing.file);
    EXPECT_EQ(missing.error, 2u);

    const auto& opens = platform.machine().opens();
    ASSERT_EQ(opens.size(), 4u);
    EXPECT_EQ(opens[0].error, 5u);
    EXPECT_EQ(opens[0].access, 0xC0000000u);
    EXPECT_EQ(opens[1].error, 0u);
}

TEST(Faults, UnreadablePropertiesAndSetsAreReported) {
    Json machine = withFaults(R"({"unreadable": ["parent", "hardware-ids", "interface-detail"]})");
    machine["faults"] = Json::parse(R"({"deviceSets": ["storage-port"]})");
    SimPlatform platform(loadOrFail(machine));
    EXPECT_FALSE(platform.deviceInfoSet(STORAGE_PORT_INTERFACE_CLASS, 0x12));
    auto set = platform.deviceInfoSet(DISK_INTERFACE_CLASS, 0x12);
    ASSERT_TRUE(set);
    EXPECT_TRUE(set->deviceAt(0));
    EXPECT_FALSE(set->textProperty(0, PROPERTY_PARENT));
    EXPECT_TRUE(set->textProperty(0, PROPERTY_INSTANCE_ID));
    EXPECT_FALSE(set->hardwareIds(0));
    DeviceInterface found;
    EXPECT_EQ(set->interfaceAt(DISK_INTERFACE_CLASS, 0, found), InterfaceLookup::DetailFailed);
}

TEST(Faults, StartupFailureIsReported) {
    Json machine = baseMachine();
    machine["startup"] = "module-handle-failed";
    SimPlatform platform(loadOrFail(machine));
    EXPECT_EQ(platform.startUp(), StartupStatus::ModuleHandleFailed);
}

// --- the device tree as the enumeration sees it ---

TEST(DeviceTree, DiskSetListsDisksInFileOrderWithTheirInterfaces) {
    Json machine = baseMachine();
    Json second = machine["controllers"][0];
    second["instanceId"] = "PCI\\VEN_144D&DEV_A808\\4&CCCC&0&0010";
    second["disks"][0]["instanceId"] = "SCSI\\DISK&VEN_NVME&PROD_OTHER\\5&DDDD&0&000000";
    second["disks"][0]["deviceNumber"] = 12;
    machine["controllers"].push_back(second);
    SimPlatform platform(loadOrFail(machine));

    auto disks = platform.deviceInfoSet(DISK_INTERFACE_CLASS, 0x12);
    ASSERT_TRUE(disks);
    EXPECT_FALSE(disks->deviceAt(2));
    EXPECT_EQ(disks->textProperty(1, PROPERTY_PARENT),
              std::optional<std::wstring>(L"PCI\\VEN_144D&DEV_A808\\4&CCCC&0&0010"));
    DeviceInterface found;
    ASSERT_EQ(disks->interfaceAt(DISK_INTERFACE_CLASS, 1, found), InterfaceLookup::Found);
    EXPECT_EQ(found.devInst, *disks->deviceAt(1));
    EXPECT_EQ(disks->interfaceAt(DISK_INTERFACE_CLASS, 2, found), InterfaceLookup::Absent);
    EXPECT_EQ(disks->interfaceAt(STORAGE_PORT_INTERFACE_CLASS, 0, found), InterfaceLookup::Absent);

    // Opening the interface path reaches the disk with device number 12.
    auto file = platform.openDevice(found.devicePath, 0xC0000000, 3, 0).file;
    ASSERT_TRUE(file);
    std::vector<std::uint8_t> number(12);
    ASSERT_TRUE(file->control(GET_DEVICE_NUMBER, number, 0).ok);
    EXPECT_EQ(get32(number, 4), 12u);

    auto all = platform.deviceInfoSet(DISK_INTERFACE_CLASS, 0x6);
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->deviceAt(3));
    EXPECT_FALSE(all->deviceAt(4));
    EXPECT_EQ(all->textProperty(1, PROPERTY_LOCATION_INFO),
              std::optional<std::wstring>(L"Bus Number 0, Target Id 0, LUN 0"));
}

TEST(DeviceTree, StoragePortsAreListedAndAnswerNoRequest) {
    SimPlatform platform(loadOrFail(baseMachine()));
    auto ports = platform.deviceInfoSet(STORAGE_PORT_INTERFACE_CLASS, 0x12);
    ASSERT_TRUE(ports);
    EXPECT_EQ(ports->textProperty(0, PROPERTY_DRIVER_DESC),
              std::optional<std::wstring>(L"Standard NVM Express Controller"));
    DeviceInterface port;
    ASSERT_EQ(ports->interfaceAt(STORAGE_PORT_INTERFACE_CLASS, 0, port), InterfaceLookup::Found);
    auto file = platform.openDevice(port.devicePath, 0xC0000000, 3, 0x40000080).file;
    ASSERT_TRUE(file);
    auto buffer = getInfoRequest();
    auto result = file->control(SCSI_MINIPORT, buffer, static_cast<std::uint32_t>(buffer.size()));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, 1u);
}

TEST(RequestHistory, RecordsWhatWasSentAndWhatCameBack) {
    OpenDisk disk;
    std::vector<std::uint8_t> small(8, 0);
    disk.send(GET_DEVICE_NUMBER, small, 0);
    auto buffer = getInfoRequest();
    const auto sent = buffer;
    disk.send(SCSI_MINIPORT, buffer);

    const auto& history = disk.platform.machine().requests();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].kind, RequestKind::DeviceNumber);
    EXPECT_FALSE(history[0].ok);
    EXPECT_EQ(history[0].error, 122u);
    EXPECT_TRUE(history[0].output.empty());
    EXPECT_EQ(history[1].path, L"\\\\.\\PHYSICALDRIVE3");
    EXPECT_EQ(history[1].deviceNumber, std::optional<std::uint32_t>(3));
    EXPECT_EQ(history[1].kind, RequestKind::GetInfo);
    EXPECT_EQ(history[1].controlCode, 0x4D008u);
    EXPECT_EQ(history[1].input, sent);
    EXPECT_EQ(history[1].output, buffer);
    EXPECT_EQ(history[1].bytesReturned, 4172u);
    EXPECT_EQ(history[1].status, std::optional<std::uint32_t>(0));
}

// A run of the program keeps no history, only the counts; a test that reads one it did not ask
// for learns so instead of reading an empty one.
TEST(RequestHistory, KeptOnlyWhenAskedForAndCountedAlways) {
    std::string error;
    SimPlatform platform(loadMachineText(baseMachine().dump(), "test.json", error));
    auto opened = platform.openDevice(L"\\\\.\\PHYSICALDRIVE3", 0xC0000000, 3, 0);
    ASSERT_TRUE(opened.file);
    auto buffer = getInfoRequest();
    opened.file->control(SCSI_MINIPORT, buffer, static_cast<std::uint32_t>(buffer.size()));

    const Machine& machine = platform.machine();
    EXPECT_FALSE(machine.keepsHistory());
    EXPECT_EQ(machine.requestCount(RequestKind::GetInfo), 1u);
    EXPECT_THROW(machine.requests(), std::logic_error);
    EXPECT_THROW(machine.opens(), std::logic_error);
}

// --- faults of chosen attempts, performed requests and the RST driver ---

TEST(Faults, OpenFailsOnlyOnTheChosenAttempt) {
    SimPlatform platform(
        loadOrFail(withFaults(R"({"openPhysicalDrive": [{"nth": 3, "error": 32}]})")));
    std::vector<std::uint32_t> errors;
    for (int attempt = 0; attempt < 4; ++attempt)
        errors.push_back(platform.openDevice(L"\\\\.\\PHYSICALDRIVE3", 0xC0000000, 0, 0).error);
    EXPECT_EQ(errors, (std::vector<std::uint32_t>{0, 0, 32, 0}));
}

Json rstWithFaults(const char* where, const char* faults) {
    Json machine = rstMachine();
    Json& target =
        std::string(where) == "port" ? rstController(machine) : rstController(machine)["drives"][0];
    target["faults"] = Json::parse(faults);
    return machine;
}

TEST(Faults, ActivationPerformedUnder0x20LeavesTheImagePending) {
    OpenPort port(rstWithFaults(
        "drive",
        R"({"requests": [{"request": "activate", "nth": 1, "status": 32, "performed": true}]})"));
    const auto image = testImage("NEWREV01");
    auto piece = rstDownloadRequest(0, 0, image);
    auto activate = rstActivateRequest(0, 2);
    EXPECT_EQ(port.status(piece), 0u);
    EXPECT_EQ(port.status(activate), 32u);
    EXPECT_EQ(port.drive(0).slotImage(2), image);
    EXPECT_EQ(port.drive(0).runningRevision(), "QLR2KAXA") << "the drive itself activates at once";
    port.platform.machine().powerCycle();
    EXPECT_EQ(port.drive(0).runningRevision(), "NEWREV01");
}

TEST(Faults, RaidConfigDriveCountOnTheSecondRequestOnly) {
    OpenPort port(rstWithFaults(
        "port", R"({"requests": [{"request": "raid-config", "nth": 2, "driveCount": 9}]})"));
    std::vector<int> counts;
    for (int i = 0; i < 3; ++i) {
        auto buffer = raidConfigRequest(0);
        EXPECT_EQ(port.status(buffer), 0u);
        counts.push_back(buffer[43]);
    }
    EXPECT_EQ(counts, (std::vector<int>{2, 9, 2}));
}

TEST(Faults, IdentifyStatusFaultLeavesTheDataAreaAlone) {
    OpenPort port(rstWithFaults(
        "drive", R"({"requests": [{"request": "identify", "nth": 1, "status": 2}]})"));
    auto buffer = rstIdentifyRequest(0);
    std::fill(buffer.begin() + 164, buffer.end(), 0x55);
    const auto sent = buffer;
    EXPECT_EQ(port.status(buffer), 2u);
    EXPECT_TRUE(std::equal(sent.begin() + 24, sent.end(), buffer.begin() + 24));
}

TEST(Faults, GetInfoAtAChosenOffsetIsWrittenAsFarAsTheRequestReaches) {
    for (const std::uint32_t at : {200u, 4160u, 5000u}) {  // the request is 4172 bytes
        Json machine = baseMachine();
        firstDisk(machine)["faults"]["getInfo"]["infoOffset"] = at;
        OpenDisk disk(machine);
        auto buffer = getInfoRequest();
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
        EXPECT_EQ(get32(buffer, 44), at);
        EXPECT_EQ(get32(buffer, 52), 0u) << "nothing at the offset the request gave";
        EXPECT_EQ(at < buffer.size() ? get32(buffer, at) : 1u, 1u) << "Version at " << at;
    }
}

}  // namespace
}  // namespace velo::sim
