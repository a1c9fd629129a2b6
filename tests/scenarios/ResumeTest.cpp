// /resume on simulated machines whose state lasts from one run to the next: a stopped or
// partial update is finished, one image group per run, and a drive that runs, or waits to run,
// current firmware is never flashed again.
#include <gtest/gtest.h>

#include "app/Outcomes.h"
#include "RunSupport.h"

namespace velo {
namespace {

class Resume : public test::SimulatedRun {
protected:
    // One /resume run on the machine as earlier runs left it: its exit status with /exitcode.
    int resumeOnce() {
        unloadFirmwareImage();
        platform->machine().clearHistory();
        RunOptions options;
        options.silent = true;
        options.resume = true;
        options.exitCodeFollowsResult = true;
        const std::size_t printed = platform->output().size();
        const int status = runVelo(*platform, options);
        lastOutput = platform->output().substr(printed);
        return status;
    }
    std::uint64_t downloads() const {
        return platform->machine().requestCount(sim::RequestKind::Download);
    }
    std::string lastOutput;
};

const std::string ALL_CURRENT = "  [INFO] Every drive runs, or waits to run, the current firmware.";

TEST_F(Resume, DrivesOfTwoImageGroupsAreFinishedOneGroupPerRun) {
    platform = std::make_unique<sim::SimPlatform>(
        sim::testing::loadOrFail(test::example("two-image-groups")));
    // The first run takes image 1 for the first drive and leaves the image-3 drive alone.
    EXPECT_EQ(resumeOnce(), EXIT_FAILED);
    EXPECT_EQ(platform->machine().drive(0)->runningRevision(), "QLR4KAXA");
    EXPECT_EQ(platform->machine().drive(1)->runningRevision(), "QLR2KCXA");
    // The second finds the first drive current and takes image 3 for the other.
    EXPECT_EQ(resumeOnce(), EXIT_UPDATED);
    EXPECT_NE(lastOutput.find("  [INFO] Firmware revision QLR4KAXA is current; the disk was "
                              "left unchanged."),
              std::string::npos)
        << lastOutput;
    EXPECT_EQ(downloads(), 512u);
    EXPECT_EQ(platform->machine().drive(1)->runningRevision(), "QLR4KCXA");
    // The third has nothing left to do and says so.
    EXPECT_EQ(resumeOnce(), EXIT_UPDATED);
    EXPECT_EQ(downloads(), 0u);
    EXPECT_NE(lastOutput.find(ALL_CURRENT), std::string::npos) << lastOutput;
    EXPECT_NE(lastOutput.find(test::ended(0)), std::string::npos) << lastOutput;
}

// A re-run after a partial failure: today's run chooses no image from a first drive already
// at the new firmware, and never finishes the second.
TEST_F(Resume, ARunAfterAPartialFailureFinishesTheRest) {
    auto machine = test::example("two-drives");
    machine["controllers"][0]["disks"][0]["drive"]["firmwareRevision"] = "QLR4KAXA";
    platform = std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(machine));
    EXPECT_EQ(resumeOnce(), EXIT_UPDATED);
    EXPECT_EQ(downloads(), 512u);
    EXPECT_EQ(platform->machine().drive(1)->runningRevision(), "QLR4KAXA");
}

// A drive whose new firmware waits for its next reset reports its old revision: a run without
// /resume flashes it again, /resume reads its slot log and sends nothing, on every stack.
TEST_F(Resume, FirmwareWaitingForTheResetIsNotFlashedAgain) {
    for (const char* name : {"power-cycle", "rst-restart-required", "vroc-raid-volume"}) {
        SCOPED_TRACE(name);
        platform =
            std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(test::example(name)));
        EXPECT_EQ(resumeOnce(), EXIT_RESTART_NEEDED);
        EXPECT_GT(downloads(), 0u);
        EXPECT_EQ(resumeOnce(), EXIT_RESTART_NEEDED);
        EXPECT_EQ(downloads(), 0u);
        EXPECT_NE(lastOutput.find("  [INFO] Firmware revision QLR4KAXA waits for the drive's "
                                  "next reset; the disk was left unchanged."),
                  std::string::npos)
            << lastOutput;
        EXPECT_NE(lastOutput.find(ALL_CURRENT), std::string::npos) << lastOutput;
        EXPECT_NE(lastOutput.find(test::ended(1602)), std::string::npos) << lastOutput;
        // Once the drives are reset, they run it.
        platform->machine().powerCycle();
        EXPECT_EQ(resumeOnce(), EXIT_UPDATED);
        EXPECT_EQ(downloads(), 0u);
        EXPECT_NE(lastOutput.find(test::ended(0)), std::string::npos) << lastOutput;
    }
}

}  // namespace
}  // namespace velo
