// What a drive holds after pieces were downloaded and activated, for each kind of activation,
// as a test reads it back after a run.
#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;

void downloadInPieces(OpenDisk& disk, const std::vector<std::uint8_t>& image, std::size_t piece) {
    for (std::size_t at = 0; at < image.size(); at += piece) {
        auto buffer =
            downloadRequest(at, slice(image, at, piece), static_cast<std::uint32_t>(piece));
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
        ASSERT_EQ(get32(buffer, 20), 0u) << "piece at " << at;
    }
}

std::uint32_t activate(OpenDisk& disk, std::uint8_t slot, std::uint32_t flags = 1) {
    auto buffer = activateRequest(slot);
    put32(buffer, 40, flags);
    EXPECT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    return get32(buffer, 20);
}

std::vector<std::uint8_t> getInfo(OpenDisk& disk) {
    auto buffer = getInfoRequest();
    EXPECT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    return buffer;
}

TEST(DriveState, ImmediateActivationRunsTheCommittedImageAtOnce) {
    OpenDisk disk;
    const auto image = testImage("NEWREV01");
    downloadInPieces(disk, image, 4096);
    EXPECT_EQ(activate(disk, 2), 0u);

    NvmeDrive& drive = disk.drive();
    EXPECT_EQ(drive.slotImage(2), image);
    EXPECT_TRUE(drive.slotImage(3).empty());
    EXPECT_EQ(drive.activeSlot(), 2);
    EXPECT_FALSE(drive.pendingSlot());
    EXPECT_EQ(drive.runningRevision(), "NEWREV01");
    EXPECT_FALSE(drive.hasStaged()) << "a commit consumes the staged image";

    auto identify = identifyRequest();
    ASSERT_TRUE(disk.send(QUERY_PROPERTY, identify).ok);
    EXPECT_EQ(textAt(identify, 112, 8), "NEWREV01");
    auto info = getInfo(disk);
    EXPECT_EQ(info[62], 2);
    EXPECT_EQ(info[63], 0xFF);
    EXPECT_EQ(textAt(info, 92, 8), "NEWREV01");
}

// The image is whole only when every byte arrived, in whatever order and overlap the pieces
// came; then it is committed as it was sent.
TEST(DriveState, StagedImageIsWholeOnlyWhenEveryByteArrived) {
    struct Case {
        const char* name;
        std::vector<std::size_t> pieces;  // 4 KiB pieces by index, in the order sent
        bool whole;
    };
    const std::vector<Case> cases = {
        {"in order", {0, 1, 2, 3}, true},
        {"backwards", {3, 2, 1, 0}, true},
        {"again and shuffled", {2, 0, 2, 3, 1}, true},
        {"a gap", {0, 1, 3}, false},
        {"no start", {1, 2, 3}, false},
    };
    const auto image = testImage("NEWREV01");
    for (const Case& c : cases) {
        OpenDisk disk;
        for (std::size_t piece : c.pieces) {
            auto buffer = downloadRequest(piece * 4096, slice(image, piece * 4096, 4096));
            ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok) << c.name;
        }
        EXPECT_EQ(disk.drive().stagedIsWhole(), c.whole) << c.name;
        EXPECT_EQ(activate(disk, 2), c.whole ? 0u : 7u) << c.name;
        EXPECT_EQ(disk.drive().slotImage(2) == image, c.whole) << c.name;
    }
}

TEST(DriveState, ResetActivationLeavesTheSlotPendingUntilAPowerCycle) {
    auto machine = baseMachine();
    firstDrive(machine)["activation"] = "reset";
    OpenDisk disk(machine);
    const auto image = testImage("NEWREV01");
    downloadInPieces(disk, image, 8192);
    EXPECT_EQ(activate(disk, 3), 0x20u);

    NvmeDrive& drive = disk.drive();
    EXPECT_EQ(drive.slotImage(3), image);
    EXPECT_EQ(drive.activeSlot(), 1);
    EXPECT_EQ(drive.pendingSlot(), std::optional<std::uint8_t>(3));
    EXPECT_EQ(drive.runningRevision(), "QLR2KAXA");
    auto info = getInfo(disk);
    EXPECT_EQ(info[62], 1);
    EXPECT_EQ(info[63], 3);
    EXPECT_EQ(textAt(info, 108, 8), "NEWREV01");

    disk.platform.machine().powerCycle();
    EXPECT_EQ(drive.activeSlot(), 3);
    EXPECT_FALSE(drive.pendingSlot());
    EXPECT_EQ(drive.runningRevision(), "NEWREV01");
}

TEST(DriveState, PiecesOutOfOrderAssembleTheSameImage) {
    OpenDisk disk;
    const auto image = testImage("NEWREV01");
    for (std::size_t at : {12288u, 0u, 8192u, 4096u}) {
        auto buffer = downloadRequest(at, slice(image, at, 4096));
        ASSERT_TRUE(disk.send(SCSI_MINIPORT, buffer).ok);
    }
    EXPECT_TRUE(disk.drive().stagedIsWhole());
    EXPECT_EQ(disk.drive().stagedBytes(), image);
    EXPECT_EQ(activate(disk, 2), 0u);
    EXPECT_EQ(disk.drive().slotImage(2), image);
}

TEST(DriveState, ImageTooShortToCarryARevisionIsInvalid) {
    OpenDisk disk;
    downloadInPieces(disk, std::vector<std::uint8_t>(8192, 3), 4096);
    EXPECT_EQ(activate(disk, 2), 7u);
    EXPECT_TRUE(disk.drive().slotImage(2).empty());
}

TEST(DriveState, SwitchToExistingFirmwareNeedsNoDownload) {
    OpenDisk disk;
    EXPECT_EQ(activate(disk, 3, 0x80000001), 0u);
    EXPECT_EQ(disk.drive().activeSlot(), 3);
    EXPECT_EQ(disk.drive().runningRevision(), "OLDREV03");
}

// The default machine takes the expected run from start to end.
TEST(DriveState, DefaultMachineRunUpdatesItsDriveWithImage1) {
    SimPlatform platform(testing::withHistory(loadDefaultMachine()));
    platform.setClock(LocalTime{2024, 5, 1, 10, 20, 30});
    RunOptions options;
    options.silent = true;
    runVelo(platform, options);
    unloadFirmwareImage();

    Machine& machine = platform.machine();
    EXPECT_EQ(machine.requestsOfKind(RequestKind::Identify).size(), 2u) << "scan and update";
    EXPECT_EQ(machine.requestsOfKind(RequestKind::GetInfo).size(), 1u);
    const auto downloads = machine.requestsOfKind(RequestKind::Download);
    ASSERT_EQ(downloads.size(), 512u);
    for (const RequestRecord& request : downloads) {
        EXPECT_EQ(request.inputLength, 4172u);
        EXPECT_TRUE(request.ok);
        EXPECT_EQ(request.status, std::optional<std::uint32_t>(0));
    }
    ASSERT_EQ(machine.requestsOfKind(RequestKind::Activate).size(), 1u);
    EXPECT_EQ(machine.requestsOfKind(RequestKind::Activate)[0].status,
              std::optional<std::uint32_t>(0));

    NvmeDrive& drive = *machine.drive(0);
    const auto image1 = embeddedImage(1);
    EXPECT_EQ(drive.slotImage(drive.activeSlot()),
              std::vector<std::uint8_t>(image1.begin(), image1.end()));
    EXPECT_EQ(drive.runningRevision(),
              std::string(reinterpret_cast<const char*>(image1.data()) + 0x3020, 8));
    EXPECT_NE(platform.output().find("Return Code : 0)"), std::string::npos) << platform.output();
}

}  // namespace
}  // namespace velo::sim
