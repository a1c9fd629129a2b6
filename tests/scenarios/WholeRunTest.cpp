// Whole runs of the program on simulated machines: what it prints, logs and shows, and what
// every drive holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/ImageCatalogue.h"
#include "app/List.h"
#include "app/Passes.h"
#include "app/Run.h"
#include "app/RunContext.h"
#include "platform/Console.h"
#include "tests/TestSupport.h"
#include "tests/sim/SimTestSupport.h"

namespace velo {
namespace {

using nlohmann::json;

json drive(std::string revision, std::string serial) {
    json entry = sim::testing::firstDrive(*std::make_unique<json>(sim::testing::baseMachine()));
    entry["firmwareRevision"] = revision;
    entry["serial"] = serial;
    // Slot 1 holds the factory image and is read-only, so updates go to slot 2.
    entry["slots"] = {{{"number", 1}, {"readOnly", true}, {"revision", revision}}, {{"number", 2}}};
    entry["activeSlot"] = 1;
    return entry;
}

json machineWith(std::vector<json> drives) {
    json disks = json::array();
    int number = 0;
    for (json& entry : drives) {
        disks.push_back({{"instanceId", "SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2\\5&D&0&00" +
                                            std::to_string(number)},
                         {"hardwareIds", {"SCSI\\DiskNVMe____VANTORA_QX7B2_1TB", "GenDisk"}},
                         {"deviceNumber", number++},
                         {"drive", entry}});
    }
    return {{"format", "velo-machine"},
            {"version", 1},
            {"clock", "2026-12-07 13:47:38"},
            {"controllers",
             {{{"instanceId", "PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01\\4&A&0&0008"},
               {"driver", "inbox"},
               {"disks", disks}}}}};
}

class WholeRun : public ::testing::Test {
protected:
    void TearDown() override {
        unloadFirmwareImage();
        silentMode = false;
    }
    // Runs the program on the machine, with a log file.
    void run(std::unique_ptr<sim::Machine> machine) {
        platform =
            std::make_unique<sim::SimPlatform>(sim::testing::withHistory(std::move(machine)));
        RunOptions options;
        options.logFilePath = test::widePath(dir.file("result.log"));
        options.inputCommand = L"/log result.log";
        EXPECT_EQ(runVelo(*platform, options), 0);
        log = test::readBytes(dir.file("result.log"));
    }
    void run(const json& machine) { run(sim::testing::loadOrFail(machine)); }

    sim::NvmeDrive& driveNumber(std::uint32_t number) { return *platform->machine().drive(number); }
    std::size_t firmwareRequests() const {
        std::size_t count = 0;
        for (auto kind :
             {sim::RequestKind::GetInfo, sim::RequestKind::Download, sim::RequestKind::Activate}) {
            count += platform->machine().requestsOfKind(kind).size();
        }
        return count;
    }
    bool holdsImage(sim::NvmeDrive& target, std::uint8_t slot, int image) {
        auto held = target.slotImage(slot);
        auto expected = embeddedImage(image);
        return std::equal(held.begin(), held.end(), expected.begin(), expected.end());
    }

    test::ScratchDir dir;
    std::unique_ptr<sim::SimPlatform> platform;
    std::string log;
};

TEST_F(WholeRun, TypicalRunOnTheDefaultMachine) {
    run(sim::loadDefaultMachine());

    // The console: start banner, the report's end banner, nothing else from an inbox update.
    EXPECT_EQ(platform->output(), "\n >> VELO Started \n\n\n >> VELO Ended (Return Code : 0)\n\n");

    auto downloads = platform->machine().requestsOfKind(sim::RequestKind::Download);
    ASSERT_EQ(downloads.size(), 512u);
    for (const auto& request : downloads) {
        EXPECT_EQ(request.inputLength, 4172u);
        EXPECT_EQ(request.path, L"\\\\.\\PHYSICALDRIVE0");
        EXPECT_EQ(request.status, 0u);
    }
    EXPECT_EQ(platform->machine().requestsOfKind(sim::RequestKind::Identify).size(), 2u);

    // Both slots are writable: the first one takes the image.
    sim::NvmeDrive& target = driveNumber(0);
    EXPECT_TRUE(holdsImage(target, 1, 1));
    EXPECT_EQ(target.activeSlot(), 1);
    EXPECT_FALSE(target.pendingSlot());
    EXPECT_EQ(target.runningRevision(), "QLR4KAXA");

    EXPECT_NE(log.find("Current Firmware Version : QLR2KAXA\r\n"
                       "Updated Firmware Version : QLR4KAXA\r\n"
                       "Return Code : 0\r\n"
                       "Result Details : Updated firmware successfully.\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[Final Result]\r\nReturn Code : 0\r\n"), std::string::npos);
    ASSERT_EQ(platform->messages().size(), 1u);
    EXPECT_EQ(platform->messages()[0].caption, L"VANTORA VELO_QX7B2_V1.0.2_QLR4KAXA");
    EXPECT_NE(
        platform->messages()[0].text.find(L"[Final Result]\nUpdated firmware successfully.\n"),
        std::wstring::npos);
}

TEST_F(WholeRun, TwoDrivesOfOneGroupAreBothUpdated) {
    run(machineWith({drive("QLR2KAXB", "FIRST"), drive("QLR1KAXB", "SECOND")}));
    for (std::uint32_t number : {0u, 1u}) {
        EXPECT_TRUE(holdsImage(driveNumber(number), 2, 2)) << number;
        EXPECT_EQ(driveNumber(number).runningRevision(), "QLR4KAXB");
    }
    EXPECT_NE(log.find("[Disk #2]\r\n"), std::string::npos);
    EXPECT_NE(log.find("[Final Result]\r\nReturn Code : 0\r\n"), std::string::npos);
}

TEST_F(WholeRun, FirstTargetOutsideEveryGroupUpdatesNothing) {
    run(machineWith({drive("ZZ99ZZZZ", "FIRST"), drive("QLR2KAXA", "SECOND")}));
    EXPECT_EQ(firmwareRequests(), 0u);
    EXPECT_EQ(driveNumber(1).runningRevision(), "QLR2KAXA");
    EXPECT_NE(log.find("[No Disk]\r\nUpdated Firmware Version : \r\nReturn Code : 1\r\n"),
              std::string::npos);
    EXPECT_NE(platform->output().find(" >> VELO Ended (Return Code : 1)"), std::string::npos);
}

TEST_F(WholeRun, TargetOfAnotherGroupIsLeftUnchanged) {
    run(machineWith({drive("QLR2KAXA", "FIRST"), drive("QLR2KCXB", "SECOND")}));
    EXPECT_TRUE(holdsImage(driveNumber(0), 2, 1));
    EXPECT_EQ(driveNumber(1).runningRevision(), "QLR2KCXB");
    EXPECT_FALSE(driveNumber(1).hasStaged());
    for (const auto& request : platform->machine().requests()) {
        if (request.deviceNumber == 1u) {
            EXPECT_TRUE(request.kind == sim::RequestKind::DeviceNumber ||
                        request.kind == sim::RequestKind::Identify);
        }
    }
    EXPECT_NE(platform->output().find(
                  "  [ERROR] Firmware revision QLR2KCXB is not updated by this image; the disk "
                  "was left unchanged.\n\n"),
              std::string::npos);
    EXPECT_NE(log.find("Current Firmware Version : QLR2KCXB\r\nUpdated Firmware Version : "
                       "QLR4KAXA\r\nReturn Code : 1\r\nResult Details : Unable to update "
                       "firmware.\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[Final Result]\r\nReturn Code : 1\r\n"), std::string::npos);
}

TEST_F(WholeRun, DriveAlreadyOnTheImageTakesItAgain) {
    run(machineWith({drive("QLR3KAXA", "FIRST"), drive("QLR4KAXA", "SECOND")}));
    EXPECT_TRUE(holdsImage(driveNumber(1), 2, 1));
    EXPECT_NE(log.find("[Final Result]\r\nReturn Code : 0\r\n"), std::string::npos);
}

TEST_F(WholeRun, UnprintableRevisionIsQuotedSafely) {
    json odd = drive("QLR2KAXA", "SECOND");
    odd["firmwareRevision"] = "Q\u0001R\u00e92KAX";
    odd["slots"][0]["revision"] = odd["firmwareRevision"];
    run(machineWith({drive("QLR2KAXA", "FIRST"), odd}));
    EXPECT_NE(platform->output().find("  [ERROR] Firmware revision Q?R?2KAX is not updated"),
              std::string::npos);
}

TEST_F(WholeRun, ActivationAfterPowerCycleNeedsARestart) {
    json pending = drive("QLR2KAXA", "FIRST");
    pending["activation"] = "reset";
    run(machineWith({pending}));
    sim::NvmeDrive& target = driveNumber(0);
    EXPECT_EQ(target.pendingSlot(), 2);
    EXPECT_EQ(target.runningRevision(), "QLR2KAXA");
    EXPECT_NE(log.find("Return Code : 1602\r\nResult Details : Downloaded firmware successfully, "
                       "but firmware activation requires reboot.\r\n"),
              std::string::npos);
    EXPECT_NE(platform->output().find(" >> VELO Ended (Return Code : 1602)"), std::string::npos);
    platform->machine().powerCycle();
    EXPECT_EQ(target.runningRevision(), "QLR4KAXA");
}

TEST_F(WholeRun, FailedDownloadLeavesNoActivation) {
    json machine = machineWith({drive("QLR2KAXA", "FIRST")});
    machine["controllers"][0]["disks"][0]["faults"] = {
        {"requests", {{{"request", "download"}, {"nth", 3}, {"status", 1}}}}};
    run(machine);
    sim::NvmeDrive& target = driveNumber(0);
    EXPECT_EQ(platform->machine().requestsOfKind(sim::RequestKind::Download).size(), 3u);
    EXPECT_TRUE(platform->machine().requestsOfKind(sim::RequestKind::Activate).empty());
    EXPECT_EQ(target.stagedPieces().size(), 2u);  // the chunks sent stay with the drive
    EXPECT_EQ(target.runningRevision(), "QLR2KAXA");
    EXPECT_NE(log.find("Return Code : 5\r\n"), std::string::npos);
}

TEST_F(WholeRun, ScanPassSendsNoFirmware) {
    platform =
        std::make_unique<sim::SimPlatform>(sim::testing::withHistory(sim::loadDefaultMachine()));
    Console console(*platform);
    Io io{*platform, console};
    DiskScanner scanner;
    DiskList targets;
    runScanPass(io, scanner, targets);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].firmwareRevision, L"QLR2KAXA");
    EXPECT_EQ(firmwareRequests(), 0u);
}

// A machine whose system hashing answers as the test says, in place of the real digest.
class HashAnswering : public sim::SimPlatform {
public:
    HashAnswering(std::unique_ptr<sim::Machine> machine, std::optional<Sha256Digest> answer)
        : SimPlatform(std::move(machine)), answer_(answer) {}
    std::optional<Sha256Digest> sha256(std::span<const std::uint8_t>) override { return answer_; }

private:
    std::optional<Sha256Digest> answer_;
};

// Neither a run nor /list offers a drive an image that fails its check.
TEST_F(WholeRun, ImageThatFailsItsDigestCheckReachesNoDrive) {
    const struct {
        std::optional<Sha256Digest> answer;
        std::string line;
        std::string listed;
    } cases[] = {
        {Sha256Digest{}, "  [ERROR] Firmware image 1 is damaged; no drive was touched.\n\n",
         "Image : none, firmware image 1 is damaged\n"},
        {std::nullopt, "  [ERROR] Firmware image 1 cannot be checked; no drive was touched.\n\n",
         "Image : none, firmware image 1 cannot be checked\n"},
    };
    const json machine = machineWith({drive("QLR2KAXA", "A"), drive("QLR2KAXA", "B")});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        HashAnswering listing(sim::testing::loadOrFail(machine), c.answer);
        RunOptions list;
        list.listOnly = list.exitCodeFollowsResult = true;
        EXPECT_EQ(listTargets(listing, list), EXIT_FAILED);
        EXPECT_NE(listing.output().find(c.listed + "\n >> VELO List Ended (2 disks, 0 to update)"),
                  std::string::npos);

        auto answering =
            std::make_unique<HashAnswering>(sim::testing::loadOrFail(machine), c.answer);
        RunOptions options;
        options.silent = true;
        runVelo(*answering, options);
        platform = std::move(answering);
        EXPECT_EQ(firmwareRequests(), 0u);
        // Discovery and identify ran in both passes.
        EXPECT_EQ(platform->machine().requestsOfKind(sim::RequestKind::Identify).size(), 4u);
        EXPECT_NE(platform->output().find(c.line), std::string::npos);
        EXPECT_NE(platform->output().find("(Return Code : 1)"), std::string::npos);
        unloadFirmwareImage();
    }
}

TEST_F(WholeRun, UnopenableDriveIsNotATarget) {
    json machine = machineWith({drive("QLR2KAXA", "FIRST")});
    machine["controllers"][0]["disks"][0]["faults"] = {{"openPhysicalDrive", 5}};
    run(machine);
    EXPECT_EQ(platform->output(),
              "\n >> VELO Started \n\n  [ERROR] Failed to get disk handle: 0x5\n\n"
              "\n >> VELO Ended (Return Code : 1)\n\n");
    EXPECT_EQ(firmwareRequests(), 0u);
}

TEST_F(WholeRun, FailedStartUpIsToldAndTheRunGoesOn) {
    json machine = machineWith({drive("QLR2KAXA", "FIRST")});
    machine["startup"] = "framework-failed";
    run(machine);
    EXPECT_EQ(
        platform->output().rfind("Fatal Error: MFC initialization failed\n\n >> VELO Started", 0),
        0u);
    EXPECT_TRUE(holdsImage(driveNumber(0), 2, 1));
}

TEST_F(WholeRun, MachineWithoutDrives) {
    run(json{{"format", "velo-machine"}, {"version", 1}, {"clock", "2026-12-07 13:47:38"}});
    EXPECT_EQ(platform->output(), "\n >> VELO Started \n\n\n >> VELO Ended (Return Code : 1)\n\n");
    EXPECT_EQ(log,
              "Start Time : 07-12-2026(13:47:38)\r\nEnd Time : 07-12-2026(13:47:38)\r\n"
              "Input Command : /log result.log\r\n[No Disk]\r\nUpdated Firmware Version : \r\n"
              "Return Code : 1\r\nResult Details : No disks are available for download.\r\n"
              "\r\n[Final Result]\r\nReturn Code : 1\r\nResult Details : Unable to update "
              "firmware.\r\n");
}

}  // namespace
}  // namespace velo
