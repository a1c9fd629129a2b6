// Whole runs on machines with the Intel VROC driver: the example machines and variations of
// them, checked by what the program prints and sends and what every drive holds afterwards.
#include "RunSupport.h"
#include "tests/FakeDevices.h"

namespace velo {
namespace {

using nlohmann::json;
using test::DOWNLOADED;
using test::ended;
using test::example;
using test::get32;
using test::STARTED;

std::string banner(const std::string& serial) {
    return test::banner(" Driver : VROC Driver\n", serial);
}

const std::string COMMITTED = "  [PASS] Firmware activation succeeded. Please reboot computer.\n\n";

std::string member(const std::string& serial, const char* id) {
    return "\nSerial: " + serial + "  \nvrocDiskId:" + id + "\nRaidVROC\n";
}

class VrocRun : public test::SimulatedRun {
protected:
    sim::NvmeDrive& drive(std::uint32_t diskId) { return *platform->machine().vrocDrive(diskId); }
    // The new image waits in slot 2 for the next reset, which then runs it.
    void expectPendingImage(std::uint32_t diskId) {
        sim::NvmeDrive& target = drive(diskId);
        EXPECT_TRUE(holdsImage(target, 2, 1)) << diskId;
        EXPECT_EQ(target.pendingSlot(), std::optional<std::uint8_t>(2)) << diskId;
        EXPECT_EQ(target.runningRevision(), "QLR2KAXA") << diskId;
    }
    // (path, share) of every open of a SCSI port.
    std::vector<std::pair<std::wstring, std::uint32_t>> portOpens() const {
        std::vector<std::pair<std::wstring, std::uint32_t>> opens;
        for (const auto& open : platform->machine().opens()) {
            if (open.path.find(L"Scsi") != std::wstring::npos)
                opens.emplace_back(open.path, open.share);
        }
        return opens;
    }
};

TEST_F(VrocRun, RaidVolumeOfTwoMembersOnPort2) {
    run(example("vroc-raid-volume"));
    const std::string discovery = "Number of NVMe RAID volume member disks: 2\n" +
                                  member("VQX7B2V00000000001", "101") +
                                  member("VQX7B2V00000000002", "102");
    // Discovery prints once per pass; each member gets its banner and steps; a commit for the
    // next reset asks for a restart.
    EXPECT_EQ(platform->output(), STARTED + discovery + discovery + banner("VQX7B2V00000000001") +
                                      DOWNLOADED + COMMITTED + banner("VQX7B2V00000000002") +
                                      DOWNLOADED + COMMITTED + ended(1602));
    expectPendingImage(0x101);
    expectPendingImage(0x102);
    platform->machine().powerCycle();
    EXPECT_EQ(drive(0x101).runningRevision(), "QLR4KAXA");

    // Ports 0 to 2 probed in each pass, shared; each member's update opens port 2 anew, unshared.
    using Open = std::pair<std::wstring, std::uint32_t>;
    const std::vector<Open> probe = {
        {L"\\\\.\\Scsi0:", 3}, {L"\\\\.\\Scsi1:", 3}, {L"\\\\.\\Scsi2:", 3}};
    std::vector<Open> expected = probe;
    for (const Open& open : probe)
        expected.push_back(open);
    expected.push_back({L"\\\\.\\Scsi2:", 0});
    expected.push_back({L"\\\\.\\Scsi2:", 0});
    EXPECT_EQ(portOpens(), expected);

    // 512 Firmware Image Download commands per member: 1024 dwords each, in rising order.
    const auto downloads = requestsOf(sim::RequestKind::Download);
    ASSERT_EQ(downloads.size(), 1024u);
    for (std::size_t i = 0; i < 512; ++i) {
        ASSERT_EQ(downloads[i].inputLength, 4256u);
        EXPECT_EQ(downloads[i].outputLength, 153u);
        EXPECT_EQ(get32(downloads[i].input, 92), 1023u);
        EXPECT_EQ(get32(downloads[i].input, 96), 1024u * i);
        EXPECT_EQ(downloads[i].vrocDiskId, std::optional<std::uint32_t>(0x101));
    }
    const auto commits = requestsOf(sim::RequestKind::Commit);
    ASSERT_EQ(commits.size(), 2u);
    EXPECT_EQ(get32(commits[0].input, 92), 0xAu);
}

TEST_F(VrocRun, DriveOfGranularity8TakesPiecesOf32KiB) {
    json machine = example("vroc-raid-volume");
    machine["scsiPorts"][0]["disks"][1]["drive"]["fwug"] = 8;
    run(machine);
    expectPendingImage(0x102);
    std::vector<std::uint32_t> dwords;  // command dword 10 of each piece the drive was sent
    for (const auto& piece : requestsOf(sim::RequestKind::Download)) {
        if (piece.vrocDiskId == 0x102u)
            dwords.push_back(get32(piece.input, 92));
    }
    EXPECT_EQ(dwords, std::vector<std::uint32_t>(64, 8191));
}

TEST_F(VrocRun, NonRaidDisks) {
    run(example("vroc-non-raid"));
    const std::string discovery = "NonRaidVROC\nNonRaidVROC\nNonRaidVROC\n";
    std::string updates;
    for (const char* serial : {"VQX7B2V00000000011", "VQX7B2V00000000012", "VQX7B2V00000000013"})
        updates += banner(serial) + DOWNLOADED + COMMITTED;
    EXPECT_EQ(platform->output(), STARTED + discovery + discovery + updates + ended(1602));
    for (std::uint32_t id : {0x201u, 0x202u, 0x203u})
        expectPendingImage(id);
}

TEST_F(VrocRun, RstCandidateThatYieldsNothingThenVroc) {
    run(example("rst-then-vroc"));
    // Port 0 opens but its driver refuses everything, port 1 reports nothing, port 2 does not
    // exist; port 3 lists the disk, and the update goes through it.
    const auto opens = platform->machine().opens();
    std::vector<std::pair<std::wstring, std::uint32_t>> scsi;
    for (const auto& open : opens) {
        if (open.path.find(L"Scsi") != std::wstring::npos)
            scsi.emplace_back(open.path, open.error);
    }
    ASSERT_EQ(scsi.size(), 9u);  // four per pass, one for the update
    EXPECT_EQ(scsi[2], (std::pair<std::wstring, std::uint32_t>{L"\\\\.\\Scsi2:", 2}));
    EXPECT_EQ(scsi.back(), (std::pair<std::wstring, std::uint32_t>{L"\\\\.\\Scsi3:", 0}));
    EXPECT_EQ(platform->output(), STARTED + "NonRaidVROC\nNonRaidVROC\n" +
                                      banner("VQX7B2V00000000031") + DOWNLOADED + COMMITTED +
                                      ended(1602));
    expectPendingImage(0x301);
}

TEST_F(VrocRun, AllThreeStacksTogether) {
    run(example("all-three-stacks"));
    expectPendingImage(0x101);
    EXPECT_EQ(platform->machine().rstDrive(3)->runningRevision(), "QLR4KAXA");
    EXPECT_EQ(platform->machine().drive(0)->runningRevision(), "QLR4KAXA");
    // VROC, then RST, then inbox: the VROC disk's restart decides the run's code.
    const std::string& output = platform->output();
    EXPECT_LT(output.find(" Driver : VROC Driver"), output.find(" Driver : IRST Driver"));
    EXPECT_EQ(output.substr(output.size() - ended(1602).size()), ended(1602));
}

TEST_F(VrocRun, NoVrocPortAtAll) {
    run(example("vroc-no-port"));
    EXPECT_EQ(platform->output(), STARTED + ended(1));
    EXPECT_EQ(portOpens().size(), 16u);  // the scan pass only: no target, no update pass
}

TEST_F(VrocRun, WhatTheDriveHoldsAfterEachCase) {
    struct Case {
        const char* name;
        json faults;
        std::string lines;
        int code;            // the run's return code
        std::size_t staged;  // pieces still staged
    };
    const std::vector<Case> cases = {
        {"commit answered with a driver status",
         {{{"request", "commit"}, {"nth", 1}, {"status", 14}}},
         DOWNLOADED + "  [ERROR] NVME_IOCTL_INVALID_PATH_TARGET_ID\n\n",
         1,
         512},
        {"commit completes with a status",
         {{{"request", "commit"}, {"nth", 1}, {"completion", 0x020D0000}}},
         DOWNLOADED + "  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: "
                      "0x00000106\n",
         1,
         512},
        {"third chunk completes with a status",
         {{{"request", "download"}, {"nth", 3}, {"completion", 0x00050000}}},
         "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
         "0x00000002\n\n  [FAIL] Firmware download failed.\n",
         1,
         2},
        {"second chunk's call fails",
         {{{"request", "download"}, {"nth", 2}, {"error", 1117}}},
         "  [ERROR] Firmware download IOCTL failed: 0x45D\n\n  [FAIL] Firmware download failed.\n",
         1,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json machine = example("vroc-raid-volume");
        machine["scsiPorts"][0]["volume"]["members"] = {0x101};
        machine["scsiPorts"][0]["disks"][0]["faults"] = {{"requests", c.faults}};
        run(machine);
        const std::string discovery =
            "Number of NVMe RAID volume member disks: 1\n" + member("VQX7B2V00000000001", "101");
        EXPECT_EQ(platform->output(), STARTED + discovery + discovery +
                                          banner("VQX7B2V00000000001") + c.lines + ended(c.code));
        sim::NvmeDrive& target = drive(0x101);
        EXPECT_FALSE(target.pendingSlot().has_value());
        EXPECT_EQ(target.runningRevision(), "QLR2KAXA");
        EXPECT_EQ(target.stagedPieces().size(), c.staged);
    }
}

}  // namespace
}  // namespace velo
