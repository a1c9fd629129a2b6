// What administrators rely on: the failure detail of the result document, /list, and the
// replay of a recorded run, on the example machines of every driver stack.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/Launch.h"
#include "app/List.h"
#include "app/Passes.h"
#include "app/RunContext.h"
#include "platform/Console.h"
#include "trace/ReplayPlatform.h"
#include "trace/TracingPlatform.h"
#include "RunSupport.h"

namespace velo {
namespace {

using nlohmann::json;

std::vector<std::string> exampleNames() {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(VELO_SOURCE_DIR) / "examples")) {
        names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Operations : public ::testing::Test {
protected:
    void TearDown() override {
        unloadFirmwareImage();
        silentMode = false;
    }
    test::ScratchDir dir;
};

// The failing step named in the result document, for failures of every stack and kind, and the
// reason a drive was left alone.
TEST_F(Operations, ResultDocumentNamesTheFailingStep) {
    struct Case {
        std::string example;
        std::function<void(json&)> change;  // applied to the example's machine
        std::size_t disk;
        std::string step;         // empty: the drive is left alone
        std::string description;  // or why it was left alone
    };
    auto addFault = [](json fault) {
        return [fault](json& machine) {
            machine["controllers"][0]["disks"][0]["faults"] = {{"requests", {fault}}};
        };
    };
    auto secondRevision = [](std::string revision) {
        return [revision](json& machine) {
            machine["controllers"][1]["disks"][0]["drive"]["firmwareRevision"] = revision;
        };
    };
    const std::vector<Case> cases = {
        {"fails-third-chunk",
         {},
         0,
         "download",
         "download chunk 3 of 512: firmware status 1, error"},
        {"default", addFault({{"request", "download"}, {"nth", 3}, {"error", 31}}), 0, "download",
         "download chunk 3 of 512: call failed with system error 0x1F"},
        {"default", addFault({{"request", "activate"}, {"nth", 1}, {"status", 6}}), 0, "activate",
         "activate: firmware status 6, invalid slot"},
        {"no-upgrade-support", {}, 0, "get-info", "get-info: firmware upgrade not supported"},
        {"rst-pass-through",
         [](json& machine) {
             machine["controllers"][0]["drives"][0]["faults"] = {
                 {"requests", {{{"request", "activate"}, {"nth", 1}, {"status", 6}}}}};
         },
         0, "activate", "activate: firmware status 6, invalid slot"},
        {"rst-raid-volume",
         [](json& machine) {
             machine["controllers"][0]["drives"][1]["faults"] = {
                 {"requests", {{{"request", "download"}, {"nth", 2}, {"error", 1117}}}}};
         },
         1, "download", "download chunk 2 of 64: call failed with system error 0x45D"},
        {"vroc-commit-driver-status",
         {},
         0,
         "activate",
         "activate: driver status 14, invalid path target id"},
        {"vroc-commit-completion-status",
         {},
         0,
         "activate",
         "activate: NVMe status 0x106, invalid firmware slot"},
        // A drive whose revision does not take the image is left alone: no failure, the reason.
        {"two-drives", secondRevision("QLR2KCXA"), 1, "", "another-image-group"},
        {"two-drives", secondRevision("QLR9ZZZZ"), 1, "", "no-image-for-revision"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.example + " " + c.description);
        json machine = test::example(c.example);
        if (c.change)
            c.change(machine);
        sim::SimPlatform platform(sim::testing::loadOrFail(machine));
        RunOptions options;
        options.silent = true;
        options.jsonFilePath = test::widePath(dir.file("result.json"));
        runVelo(platform, options);
        unloadFirmwareImage();
        const json document = json::parse(test::readBytes(dir.file("result.json")));
        ASSERT_GT(document["targets"].size(), c.disk);
        const json& disk = document["targets"][c.disk];
        if (c.step.empty()) {
            EXPECT_EQ(disk["outcome"], "left-alone");
            EXPECT_EQ(disk["leftAlone"], c.description);
            EXPECT_EQ(disk["resultCode"], 1);
            EXPECT_TRUE(disk["failure"].is_null());
            EXPECT_TRUE(disk["image"].is_null());
            continue;
        }
        EXPECT_EQ(disk["outcome"], "failed");
        EXPECT_EQ(disk["failure"]["step"], c.step);
        EXPECT_EQ(disk["failure"]["description"], c.description);
        EXPECT_EQ(disk["image"], 1);
    }
}

// Sets keepsRevision on every drive of a machine.
void keepRevisions(json& node) {
    if (node.is_object() && node.contains("firmwareRevision"))
        node["keepsRevision"] = true;
    if (node.is_structured()) {
        for (json& child : node)
            keepRevisions(child);
    }
}

// /verify on the inbox and RST stacks: the drive identified again after activation, its
// revision compared with the image's; a restart-pending result is not checked. The result code
// stays what the update gave.
TEST_F(Operations, VerifyComparesTheRevisionAfterActivation) {
    const std::string differs =
        "  [WARNING] The drive reports firmware revision QLR2KAXA after activation.\n";
    const struct {
        std::string example;
        bool keeps;
        std::string outcome;
        json running;
        int resultCode;
    } cases[] = {
        {"default", false, "verified", "QLR4KAXA", 0},
        {"default", true, "revision-differs", "QLR2KAXA", 0},
        {"rst-pass-through", false, "verified", "QLR4KAXA", 0},
        {"rst-pass-through", true, "revision-differs", "QLR2KAXA", 0},
        {"rst-restart-required", true, "pending-restart", nullptr, 1602},
        {"power-cycle", false, "pending-restart", nullptr, 1602},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.example + (c.keeps ? " keeping its revision" : ""));
        json machine = test::example(c.example);
        if (c.keeps)
            keepRevisions(machine);
        sim::SimPlatform platform(sim::testing::loadOrFail(machine));
        RunOptions options;
        options.silent = true;
        options.verify = true;
        options.jsonFilePath = test::widePath(dir.file("result.json"));
        runVelo(platform, options);
        unloadFirmwareImage();
        const json disk = json::parse(test::readBytes(dir.file("result.json")))["targets"][0];
        EXPECT_EQ(disk["resultCode"], c.resultCode);
        EXPECT_EQ(disk["verification"]["outcome"], c.outcome);
        EXPECT_EQ(disk["verification"]["runningRevision"], c.running);
        EXPECT_EQ(platform.output().find(differs) != std::string::npos,
                  c.outcome == "revision-differs");
    }
}

// /list on every example: no firmware request reaches any drive, and each target is planned,
// in the list and in its document, exactly as the whole run then treats it.
TEST_F(Operations, ListSendsNoFirmwareAndPlansAsTheRunDoes) {
    for (const std::string& name : exampleNames()) {
        SCOPED_TRACE(name);
        sim::SimPlatform listed(sim::testing::loadOrFail(test::example(name)));
        RunOptions options;
        options.listOnly = true;
        options.jsonFilePath = test::widePath(dir.file("list.json"));
        EXPECT_EQ(listTargets(listed, options), 0);
        const json listDocument = json::parse(test::readBytes(dir.file("list.json")));
        for (auto kind : {sim::RequestKind::GetInfo, sim::RequestKind::Download,
                          sim::RequestKind::Activate, sim::RequestKind::Commit}) {
            EXPECT_TRUE(listed.machine().requestsOfKind(kind).empty());
        }

        Console console(listed);
        Io io{listed, console};
        DiskScanner scanner;
        DiskList targets;
        runScanPass(io, scanner, targets);
        const std::vector<PlannedImage> plan = planImages(targets);

        sim::SimPlatform updated(sim::testing::loadOrFail(test::example(name)));
        RunOptions run;
        run.silent = true;
        run.jsonFilePath = test::widePath(dir.file("result.json"));
        runVelo(updated, run);
        unloadFirmwareImage();
        const json document = json::parse(test::readBytes(dir.file("result.json")));
        ASSERT_EQ(listDocument["targets"].size(), plan.size());
        ASSERT_EQ(document["targets"].size(), plan.size());
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const json& target = document["targets"][i];
            EXPECT_EQ(plan[i].image.has_value(), !target["image"].is_null()) << i;
            EXPECT_EQ(listDocument["targets"][i]["plan"] == "would-update",
                      !target["image"].is_null())
                << i;
            EXPECT_EQ(listDocument["targets"][i]["image"], target["image"]) << i;
        }
    }
}

// A second drive already at the revision the chosen image installs takes that image again:
// /list plans it and the run flashes it, by the same rule.
TEST_F(Operations, DriveAlreadyAtTheInstalledRevisionIsListedAndFlashed) {
    const json machine = test::example("second-drive-current");
    sim::SimPlatform listed(sim::testing::loadOrFail(machine));
    RunOptions list;
    list.listOnly = true;
    listTargets(listed, list);
    EXPECT_NE(listed.output().find("Current Firmware Version : QLR4KAXA\nImage : 1, installs "
                                   "QLR4KAXA\n\n >> VELO List Ended (2 disks, 2 to update)"),
              std::string::npos);

    sim::SimPlatform updated(sim::testing::loadOrFail(machine));
    RunOptions run;
    run.silent = true;
    runVelo(updated, run);
    std::size_t toSecond = 0;
    for (const auto& request : updated.machine().requestsOfKind(sim::RequestKind::Download))
        toSecond += request.deviceNumber == 1u ? 1 : 0;
    EXPECT_EQ(toSecond, 512u);
    EXPECT_NE(updated.output().find("(Return Code : 0)"), std::string::npos);
}

// The trace of a silent run on machine, one line per call.
std::string recordSilentRun(sim::SimPlatform& machine) {
    std::string recording;
    {
        TracingPlatform tracing(machine, [&](std::string_view line) {
            recording.append(line);
            recording += '\n';
        });
        RunOptions options;
        options.silent = true;
        runVelo(tracing, options);
    }
    unloadFirmwareImage();
    return recording;
}

// A traced run of every example replays to the same output byte for byte, and a request that
// differs from the recording stops the replay with the call and the byte named.
TEST_F(Operations, RecordedRunsReplayByteForByte) {
    for (const std::string& name : exampleNames()) {
        SCOPED_TRACE(name);
        sim::SimPlatform machine(sim::testing::loadOrFail(test::example(name)));
        const std::string recording = recordSilentRun(machine);

        std::string error;
        std::string replayed;
        auto replay = ReplayPlatform::fromText(
            recording, name, error, {[&](std::string_view bytes) { replayed.append(bytes); }, {}});
        ASSERT_TRUE(replay) << error;
        RunOptions options;
        options.silent = true;
        runVelo(*replay, options);
        unloadFirmwareImage();
        EXPECT_EQ(replay->finish(), std::nullopt);
        EXPECT_EQ(replayed, machine.output());
    }
}

TEST_F(Operations, ReplayNamesTheFirstChangedRequest) {
    sim::SimPlatform machine(sim::testing::loadOrFail(test::example("default")));
    std::string recording = recordSilentRun(machine);
    // The third download piece as recorded carries other image bytes at byte 76.
    const std::size_t line = recording.find("\"inputLength\":4172", recording.find("\"seq\":47,"));
    const std::size_t byte76 = recording.find("\"input\":\"", line) + 9 + 76 * 2;
    recording[byte76] = recording[byte76] == '0' ? '1' : '0';

    std::string error;
    auto replay = ReplayPlatform::fromText(recording, "default", error);
    ASSERT_TRUE(replay) << error;
    RunOptions options;
    options.silent = true;
    EXPECT_THROW(runVelo(*replay, options), PlaybackDeparture);
    const auto departure = replay->finish();
    ASSERT_TRUE(departure);
    EXPECT_EQ(departure->rfind("call 47: control file 5 code 0x4D008", 0), 0u) << *departure;
    EXPECT_NE(departure->find("input differs at byte 76"), std::string::npos) << *departure;
}

// A recorded answer the replay cannot read ends the run as a departure that finish() reports,
// also when it is the recording's last call.
TEST_F(Operations, UnreadableRecordedAnswerIsADeparture) {
    const struct {
        std::string recording;
        std::string departure;
    } cases[] = {
        {R"({"op":"startUp"})", "call 0: the recording has no valid result"},
        {R"({"op":"startUp","result":"ok"})"
         "\n"
         R"({"seq":2,"op":"localTime","result":"ok","time":"noon"})",
         "call 2: the recording's time is not a time"},
    };
    for (const auto& c : cases) {
        std::string error;
        auto replay = ReplayPlatform::fromText(c.recording, "recording", error);
        ASSERT_TRUE(replay) << error;
        RunOptions options;
        options.silent = true;
        EXPECT_THROW(runVelo(*replay, options), PlaybackDeparture);
        EXPECT_EQ(replay->finish(), c.departure);
    }
}

// A run that finds the machine's run lock held sends nothing to any device and ends at once;
// deployment tools that read /exitcode see Windows' "another installation is in progress".
TEST_F(Operations, HeldRunLockTouchesNoDevice) {
    for (const bool exitCode : {false, true}) {
        json machine = test::example("two-drives");
        machine["runLock"] = "held";
        // Kept past the run, which gets a forwarding platform over it, so that its history can
        // be read afterwards.
        std::unique_ptr<sim::SimPlatform> kept;
        std::string out;
        std::string err;
        LaunchHooks hooks;
        hooks.writeStdout = [&](std::string_view bytes) { out += bytes; };
        hooks.writeStderr = [&](std::string_view bytes) { err += bytes; };
        hooks.defaultPlatform = [&]() -> std::unique_ptr<Platform> {
            kept = std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(machine));
            return std::make_unique<TracingPlatform>(*kept, TraceSink{});
        };
        std::vector<std::wstring> args = {L"/s", L"/log", dir.file("held.log").wstring()};
        if (exitCode)
            args.push_back(L"/exitcode");
        EXPECT_EQ(launch(args, L"", hooks), exitCode ? EXIT_ANOTHER_RUN : EXIT_FAILED);
        ASSERT_NE(kept, nullptr);
        EXPECT_TRUE(kept->machine().opens().empty());
        EXPECT_TRUE(kept->machine().requests().empty());
        EXPECT_EQ(out, "");
        EXPECT_EQ(err,
                  "velo: another run of VELO is in progress on this machine; nothing was "
                  "done\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file("held.log")));
    }
}

// A run where no desktop can be seen (a service, session 0) shows no message box, which would
// wait for ever, and the document says why none was shown.
TEST_F(Operations, NoMessageBoxWhereNoDesktopIsVisible) {
    for (const bool visible : {true, false}) {
        std::unique_ptr<sim::SimPlatform> kept;
        LaunchHooks hooks;
        hooks.writeStdout = [](std::string_view) {};
        hooks.writeStderr = [](std::string_view) {};
        hooks.defaultPlatform = [&]() -> std::unique_ptr<Platform> {
            kept = std::make_unique<sim::SimPlatform>(
                sim::testing::loadOrFail(test::example("default")));
            return std::make_unique<TracingPlatform>(*kept, TraceSink{});
        };
        hooks.desktopVisible = visible;
        const auto path = dir.file("visible.json");
        EXPECT_EQ(launch({L"/json", path.wstring()}, L"", hooks), 0);
        unloadFirmwareImage();
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->messages().size(), visible ? 1u : 0u);
        const json document = json::parse(test::readBytes(path));
        EXPECT_EQ(document["run"]["messageBox"]["shown"], visible);
        EXPECT_EQ(document["run"]["messageBox"]["reason"],
                  visible ? json() : json("no-visible-desktop"));
    }
}

}  // namespace
}  // namespace velo
