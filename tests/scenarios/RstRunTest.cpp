// Whole runs on machines with an Intel RST controller: the example machines and variations of
// them, checked by what the program prints and what every drive holds afterwards.
#include "RunSupport.h"

#include "app/Passes.h"
#include "platform/Console.h"

namespace velo {
namespace {

using nlohmann::json;
using test::DOWNLOADED;
using test::ended;
using test::example;
using test::STARTED;

json& rstController(json& machine) {
    for (json& controller : machine["controllers"]) {
        if (controller["driver"] == "rst")
            return controller;
    }
    throw std::logic_error("no rst controller");
}

std::string banner(const char* raid, const char* serial) {
    return test::banner(std::string(" Driver : IRST Driver\n Raid : ") + raid + "\n", serial);
}

const std::string ACTIVATED = "  [PASS] Firmware activation succeeded.\n\n";

class RstRun : public test::SimulatedRun {
protected:
    sim::NvmeDrive& drive(int pathId) {
        return *platform->machine().rstDrive(static_cast<std::uint8_t>(pathId));
    }
    std::vector<std::uint8_t> identifiedPathIds() const {
        std::vector<std::uint8_t> ids;
        for (const auto& request : platform->machine().requestsOfKind(sim::RequestKind::Identify))
            ids.push_back(request.pathId.value_or(0xEE));
        return ids;
    }
};

TEST_F(RstRun, PassThroughDisk) {
    run(example("rst-pass-through"));
    EXPECT_EQ(platform->output(),
              STARTED + banner("No", "VQX7B2R00000000003") + DOWNLOADED + ACTIVATED + ended(0));
    // Identified in both passes, then 512 chunks of 4096 bytes and the activation.
    EXPECT_EQ(identifiedPathIds(), (std::vector<std::uint8_t>{3, 3}));
    const auto downloads = platform->machine().requestsOfKind(sim::RequestKind::Download);
    ASSERT_EQ(downloads.size(), 512u);
    EXPECT_EQ(downloads[0].inputLength, 4184u);
    EXPECT_EQ(requestsOf(sim::RequestKind::Activate).size(), 1u);
    EXPECT_TRUE(holdsImage(drive(3), 2, 1));
    EXPECT_EQ(drive(3).runningRevision(), "QLR4KAXA");
}

TEST_F(RstRun, RaidVolumeOfTwoMembers) {
    run(example("rst-raid-volume"));
    const std::string member1 = banner("Yes", "VQX7B2R00000000001") + DOWNLOADED + ACTIVATED;
    const std::string member2 = banner("Yes", "VQX7B2R00000000002") + DOWNLOADED + ACTIVATED;
    EXPECT_EQ(platform->output(), STARTED + member1 + member2 + ended(0));
    EXPECT_EQ(requestsOf(sim::RequestKind::RaidConfig).size(), 2u);  // once per pass
    EXPECT_EQ(identifiedPathIds(), (std::vector<std::uint8_t>{1, 2, 1, 2}));
    const auto downloads = platform->machine().requestsOfKind(sim::RequestKind::Download);
    ASSERT_EQ(downloads.size(), 128u);  // 64 chunks of 32 KiB per member
    EXPECT_EQ(downloads[0].inputLength, 32856u);
    for (int member : {1, 2})
        EXPECT_TRUE(holdsImage(drive(member), 2, 1)) << member;

    // How each step opens the port: the discovery test overlapped and shared, the CSMI step
    // and the updates unshared (held for their whole length), identify shared.
    using Open = std::pair<std::uint32_t, std::uint32_t>;  // share, flags
    const Open found{SHARE_READ_WRITE, OPEN_FLAGS_NORMAL_OVERLAPPED}, held{SHARE_NONE, 0},
        shared{SHARE_READ_WRITE, 0};
    std::vector<Open> portOpens;
    for (const auto& open : platform->machine().opens()) {
        if (open.path.find(L"{2accfe60") != std::wstring::npos)
            portOpens.emplace_back(open.share, open.flags);
    }
    // Per pass: discovery, CSMI, two members identified; then one update per member.
    const std::vector<Open> expected = {found, held,   shared, shared, found,
                                        held,  shared, shared, held,   held};
    EXPECT_EQ(portOpens, expected);
}

TEST_F(RstRun, FourMembersAreReadFromTheSecondReply) {
    run(example("rst-raid-four-members"));
    EXPECT_EQ(identifiedPathIds(), (std::vector<std::uint8_t>{1, 2, 3, 4, 1, 2, 3, 4}));
    const auto configs = platform->machine().requestsOfKind(sim::RequestKind::RaidConfig);
    ASSERT_EQ(configs.size(), 4u);
    EXPECT_EQ(configs[0].inputLength, 336u);
    EXPECT_EQ(configs[1].inputLength, 64u + 4 * 136);
    for (int member : {1, 2, 3, 4})
        EXPECT_TRUE(holdsImage(drive(member), 2, 1)) << member;
    EXPECT_NE(platform->output().find(ended(0)), std::string::npos);
}

TEST_F(RstRun, FourMembersWhoseRepeatedRequestFails) {
    json machine = example("rst-raid-four-members");
    // The repeated request of each pass (the 2nd and the 4th) fails: the two entries of the
    // first reply are identified, and only they are updated.
    rstController(machine)["faults"] = {
        {"requests",
         {{{"request", "raid-config"}, {"nth", 2}, {"error", 31}},
          {{"request", "raid-config"}, {"nth", 4}, {"error", 31}}}}};
    run(machine);
    EXPECT_EQ(identifiedPathIds(), (std::vector<std::uint8_t>{1, 2, 1, 2}));
    EXPECT_TRUE(holdsImage(drive(1), 2, 1));
    EXPECT_TRUE(holdsImage(drive(2), 2, 1));
    EXPECT_FALSE(drive(3).hasStaged() || drive(4).hasStaged());
}

TEST_F(RstRun, EachDriveIsOneTargetPerPass) {
    // Entries past the real members come back zeroed, and a second volume over the same members
    // reads RAID set 0 again: neither may make a drive a target twice, in the scan or the update.
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"drive count 5, a drive outside the volume at path id 0",
         R"([{"op": "add", "path": "/raidSets/0/driveCount", "value": 5},
             {"op": "copy", "from": "/drives/0", "path": "/drives/-"},
             {"op": "replace", "path": "/drives/2/pathId", "value": 0}])"},
        {"drive count 255", R"([{"op": "add", "path": "/raidSets/0/driveCount", "value": 255}])"},
        {"two volumes over the same members",
         R"([{"op": "copy", "from": "/raidSets/0", "path": "/raidSets/-"},
             {"op": "copy", "from": "/disks/0", "path": "/disks/-"},
             {"op": "replace", "path": "/disks/1/instanceId",
              "value": "SCSI\\DISK&VEN_INTEL&PROD_RAID_0_VOLUME\\4&1B5F2E7&0&000100"},
             {"op": "replace", "path": "/disks/1/deviceNumber", "value": 2}])"},
    };
    for (const auto& [name, patch] : cases) {
        SCOPED_TRACE(name);
        json machine = example("rst-raid-volume");
        rstController(machine) = rstController(machine).patch(json::parse(patch));
        run(machine);
        EXPECT_EQ(platform->output(), STARTED + banner("Yes", "VQX7B2R00000000001") + DOWNLOADED +
                                          ACTIVATED + banner("Yes", "VQX7B2R00000000002") +
                                          DOWNLOADED + ACTIVATED + ended(0));
        EXPECT_EQ(requestsOf(sim::RequestKind::Activate).size(), 2u);

        platform = std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(machine));
        Console console(*platform);
        Io io{*platform, console};
        DiskScanner scanner;
        DiskList targets;
        runScanPass(io, scanner, targets);  // as /list runs it
        EXPECT_EQ(targets.size(), 2u);
    }
}

TEST_F(RstRun, RefusedOrEmptyRaidConfiguration) {
    struct Case {
        const char* name;
        json fault;
        std::string lines;
    };
    const std::vector<Case> cases = {
        {"drive count 0",
         {{"request", "raid-config"}, {"nth", 1}, {"andLater", true}, {"driveCount", 0}},
         ""},
        {"return code 31",
         {{"request", "raid-config"}, {"nth", 1}, {"andLater", true}, {"status", 31}},
         "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x1f\n\n"},
        {"call fails",
         {{"request", "raid-config"}, {"nth", 1}, {"andLater", true}, {"error", 1117}},
         "  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x45D\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json machine = example("rst-raid-volume");
        rstController(machine)["faults"] = {{"requests", {c.fault}}};
        run(machine);
        // No target: the scan pass prints its line once and nothing is sent to any drive.
        EXPECT_EQ(platform->output(), STARTED + c.lines + ended(1));
        EXPECT_EQ(requestsOf(sim::RequestKind::Identify).size(), 0u);
        EXPECT_EQ(requestsOf(sim::RequestKind::Download).size(), 0u);
    }
}

TEST_F(RstRun, IntelCandidatesComeBeforeInboxOnes) {
    run(example("rst-and-inbox"));
    EXPECT_EQ(platform->output(),
              STARTED + banner("No", "VQX7B2R00000000003") + DOWNLOADED + ACTIVATED + ended(0));
    EXPECT_TRUE(holdsImage(drive(3), 2, 1));
    EXPECT_EQ(platform->machine().drive(0)->runningRevision(), "QLR4KAXA");
    // The RST drive was updated first.
    const auto& requests = platform->machine().requests();
    const auto firstDownload = std::find_if(requests.begin(), requests.end(), [](const auto& r) {
        return r.kind == sim::RequestKind::Download;
    });
    ASSERT_NE(firstDownload, requests.end());
    EXPECT_EQ(firstDownload->pathId, std::optional<std::uint8_t>(3));
}

TEST_F(RstRun, NoIntelPortLeavesTheInboxDriveAlone) {
    for (const char* name : {"intel-not-raid", "rst-port-locked"}) {
        run(example(name));
        EXPECT_EQ(platform->output(), STARTED + ended(0)) << name;
        EXPECT_EQ(platform->machine().drive(0)->runningRevision(), "QLR4KAXA") << name;
        EXPECT_EQ(drive(3).runningRevision(), "QLR2KAXA") << name;
        EXPECT_EQ(requestsOf(sim::RequestKind::Identify).size(), 2u) << name;  // the inbox drive's
    }
}

TEST_F(RstRun, WhatEachDriveHoldsAfterItsUpdate) {
    struct Case {
        const char* name;
        std::function<void(json& rstDrive)> change;
        std::string lines;
        int code;
        bool running, pending;
        std::size_t staged;  // pieces left in the staging area
    };
    const std::vector<Case> cases = {
        {"restart required", [](json& d) { d["drive"]["activation"] = "reset"; },
         DOWNLOADED + "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n", 1602,
         false, true, 0},
        {"third chunk refused",
         [](json& d) {
             d["faults"] = {{"requests", {{{"request", "download"}, {"nth", 3}, {"status", 3}}}}};
         },
         "  [ERROR] Firmware download failed: srbControl->ReturnCode 3\n"
         "\n  [FAIL] Firmware download failed.\n",
         1, false, false, 2},
        {"third chunk's call fails",
         [](json& d) {
             d["faults"] = {{"requests", {{{"request", "download"}, {"nth", 3}, {"error", 1117}}}}};
         },
         "  [ERROR] Firmware download IOCTL failed: 0x45D\n\n  [FAIL] Firmware download failed.\n",
         1, false, false, 2},
        {"slot 2 read-only", [](json& d) { d["drive"]["slots"][1]["readOnly"] = true; },
         DOWNLOADED + "  [ERROR] Firmware activate failed: invalid slot number\n\n", 1, false,
         false, 512},
        {"activation answered 32, image taken",
         [](json& d) {
             d["faults"] = {
                 {"requests",
                  {{{"request", "activate"}, {"nth", 1}, {"status", 32}, {"performed", true}}}}};
         },
         DOWNLOADED + "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n", 1602,
         false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json machine = example("rst-pass-through");
        c.change(rstController(machine)["drives"][0]);
        run(machine);
        EXPECT_EQ(platform->output(),
                  STARTED + banner("No", "VQX7B2R00000000003") + c.lines + ended(c.code));
        sim::NvmeDrive& target = drive(3);
        EXPECT_EQ(target.runningRevision() == "QLR4KAXA", c.running);
        EXPECT_EQ(target.pendingSlot().has_value(), c.pending);
        EXPECT_EQ(target.stagedPieces().size(), c.staged);
        if (c.pending) {
            EXPECT_TRUE(holdsImage(target, 2, 1));
            platform->machine().powerCycle();
            EXPECT_EQ(target.runningRevision(), "QLR4KAXA");
        }
    }
}

TEST_F(RstRun, UnopenableControllerAtUpdate) {
    // Discovery and both identify passes open the port; the update's open is refused.
    json machine = example("rst-pass-through");
    rstController(machine)["faults"] = {{"openStoragePort", {{{"nth", 5}, {"error", 5}}}}};
    run(machine);
    EXPECT_EQ(platform->output(), STARTED + banner("No", "VQX7B2R00000000003") +
                                      "  [ERROR] Failed to get disk handle: 0x5\n\n" + ended(1));
    EXPECT_EQ(requestsOf(sim::RequestKind::Download).size(), 0u);
}

TEST_F(RstRun, MemberWithoutDriveIsNotUpdated) {
    // A RAID set naming a path id with no drive: that member identifies as zero bytes, which
    // select no image, and it is left alone.
    json machine = example("rst-raid-volume");
    rstController(machine)["raidSets"][0]["members"] = {1, 7};
    run(machine);
    EXPECT_TRUE(holdsImage(drive(1), 2, 1));
    EXPECT_NE(platform->output().find("  [ERROR] Firmware revision ???????? is not updated by "
                                      "this image; the disk was left unchanged.\n\n"),
              std::string::npos);
    EXPECT_NE(platform->output().find(ended(1)), std::string::npos);
}

}  // namespace
}  // namespace velo
