// The trace: one JSON line per platform call with the documented fields, and the /trace
// switch of the launcher.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/CommandLine.h"
#include "app/Launch.h"
#include "entry/Backends.h"
#include "app/ImageCatalogue.h"
#include "platform/Text.h"
#include "trace/TracingPlatform.h"
#include "trace/ReplayPlatform.h"
#include "tests/TestSupport.h"
#include "tests/sim/SimTestSupport.h"

namespace velo {
namespace {

using namespace velo::sim::testing;
using Json = nlohmann::json;

struct Traced {
    Traced()
        : inner(loadOrFail(baseMachine())),
          tracing(inner, [this](std::string_view line) { lines.emplace_back(line); }) {}

    Json line(std::size_t index) const {
        EXPECT_LT(index, lines.size());
        EXPECT_EQ(lines[index].find('\n'), std::string::npos);
        return Json::parse(lines.at(index));
    }

    sim::SimPlatform inner;
    std::vector<std::string> lines;
    TracingPlatform tracing;
};

TEST(Trace, DeviceSetCallsAreOneLineEach) {
    Traced traced;
    {
        auto set = traced.tracing.deviceInfoSet(DISK_INTERFACE_CLASS, 0x12);
        ASSERT_TRUE(set);
        EXPECT_EQ(set->deviceAt(0), traced.inner.machine().devices[1].devInst);
        EXPECT_FALSE(set->deviceAt(1));
        EXPECT_TRUE(set->textProperty(0, PROPERTY_PARENT));
        EXPECT_FALSE(set->textProperty(0, PropertyKey{{1, 2, 3, {}}, 9}));
        EXPECT_TRUE(set->hardwareIds(0));
        DeviceInterface found;
        EXPECT_EQ(set->interfaceAt(DISK_INTERFACE_CLASS, 0, found), InterfaceLookup::Found);
    }
    ASSERT_EQ(traced.lines.size(), 8u);
    Json open = traced.line(0);
    EXPECT_EQ(open["seq"], 1);
    EXPECT_EQ(open["op"], "deviceInfoSet");
    EXPECT_EQ(open["class"], "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}");
    EXPECT_EQ(open["flags"], "0x12");
    EXPECT_EQ(open["result"], "ok");
    const int set = open["set"];
    EXPECT_EQ(traced.line(1)["op"], "deviceAt");
    EXPECT_EQ(traced.line(1)["set"], set);
    EXPECT_EQ(traced.line(1)["devInst"], traced.inner.machine().devices[1].devInst);
    EXPECT_EQ(traced.line(2)["result"], "absent");
    EXPECT_EQ(traced.line(3)["key"], "parent");
    EXPECT_EQ(traced.line(3)["value"],
              "PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01\\4&AAAA&0&0008");
    EXPECT_EQ(traced.line(4)["key"], "{00000001-0002-0003-0000-000000000000},9");
    EXPECT_EQ(traced.line(4)["result"], "unreadable");
    EXPECT_EQ(traced.line(5)["value"][1], "GenDisk");
    EXPECT_EQ(traced.line(6)["op"], "interfaceAt");
    EXPECT_EQ(traced.line(6)["path"], toUtf8(traced.inner.machine().devices[1].interfaces[0].path));
    EXPECT_EQ(traced.line(7)["op"], "releaseDeviceInfoSet");
    EXPECT_EQ(traced.line(7)["seq"], 8);
}

TEST(Trace, OpensAndControlRequestsCarryArgumentsBytesAndResults) {
    Traced traced;
    auto failed = traced.tracing.openDevice(L"\\\\.\\PHYSICALDRIVE9", 0xC0000000, 3, 0);
    EXPECT_EQ(failed.error, 2u);
    {
        auto opened =
            traced.tracing.openDevice(L"\\\\.\\PHYSICALDRIVE3", 0xC0000000, 3, 0x40000080);
        ASSERT_TRUE(opened.file);
        std::vector<std::uint8_t> buffer(16, 0xCD);
        buffer[0] = 0x11;
        auto ok = opened.file->control(GET_DEVICE_NUMBER, buffer, 1);
        EXPECT_TRUE(ok.ok);
        std::vector<std::uint8_t> tiny(4, 0);
        auto bad = opened.file->control(GET_DEVICE_NUMBER, tiny, 0);
        EXPECT_EQ(bad.error, 122u);
    }
    ASSERT_EQ(traced.lines.size(), 5u);
    Json miss = traced.line(0);
    EXPECT_EQ(miss["op"], "openDevice");
    EXPECT_EQ(miss["path"], "\\\\.\\PHYSICALDRIVE9");
    EXPECT_EQ(miss["result"], "error");
    EXPECT_EQ(miss["error"], 2);
    Json open = traced.line(1);
    EXPECT_EQ(open["access"], "0xC0000000");
    EXPECT_EQ(open["share"], "0x3");
    EXPECT_EQ(open["flags"], "0x40000080");
    EXPECT_EQ(open["result"], "ok");
    Json control = traced.line(2);
    EXPECT_EQ(control["op"], "control");
    EXPECT_EQ(control["file"], open["file"]);
    EXPECT_EQ(control["code"], "0x2D1080");
    EXPECT_EQ(control["inputLength"], 1);
    EXPECT_EQ(control["outputLength"], 16);
    EXPECT_EQ(control["input"], "11") << "only the first inputLength bytes, as sent";
    EXPECT_EQ(control["result"], "ok");
    EXPECT_EQ(control["bytesReturned"], 12);
    EXPECT_EQ(control["output"], "070000000300000000000000");
    Json refused = traced.line(3);
    EXPECT_EQ(refused["result"], "error");
    EXPECT_EQ(refused["error"], 122);
    EXPECT_FALSE(refused.contains("output"));
    EXPECT_EQ(traced.line(4)["op"], "closeDevice");
}

TEST(Trace, RunLevelCallsAreTracedToo) {
    Traced traced;
    traced.inner.setClock(LocalTime{2024, 5, 1, 9, 8, 7});
    traced.tracing.startUp();
    traced.tracing.localTime();
    traced.inner.setClock(std::nullopt, false);
    traced.tracing.localTime();
    traced.tracing.writeOutput(std::string("A\xFF\n", 3));
    traced.tracing.showMessage(L"Title", L"Body");
    const auto path = std::filesystem::temp_directory_path() / "velo-trace-test-log.txt";
    traced.tracing.writeTextFile(path.wstring(), "x\n");
    std::filesystem::remove(path);

    ASSERT_EQ(traced.lines.size(), 6u);
    EXPECT_EQ(traced.line(0)["op"], "startUp");
    EXPECT_EQ(traced.line(0)["result"], "ok");
    EXPECT_EQ(traced.line(1)["time"], "2024-05-01 09:08:07");
    EXPECT_EQ(traced.line(2)["result"], "unreadable");
    EXPECT_EQ(traced.line(3)["length"], 3);
    EXPECT_EQ(traced.line(3)["text"], "A\xEF\xBF\xBD\n");
    EXPECT_EQ(traced.line(4)["caption"], "Title");
    EXPECT_EQ(traced.line(4)["text"], "Body");
    EXPECT_EQ(traced.line(5)["op"], "writeTextFile");
    EXPECT_EQ(traced.line(5)["result"], "ok");
    EXPECT_EQ(traced.inner.output(), std::string("A\xFF\n", 3)) << "calls still reach the machine";
}

TEST(Trace, ASinkThatFailsCannotEndTheProcessFromADestructor) {
    sim::SimPlatform inner(loadOrFail(baseMachine()));
    bool failing = false;
    TracingPlatform tracing(inner, [&](std::string_view) {
        if (failing)
            throw std::runtime_error("disk full");
    });
    auto set = tracing.deviceInfoSet(DISK_INTERFACE_CLASS, 0x12);
    auto opened = tracing.openDevice(L"\\\\.\\PHYSICALDRIVE3", ACCESS_READ_WRITE, SHARE_READ_WRITE,
                                     OPEN_FLAGS_NONE);
    ASSERT_TRUE(set && opened.file);
    failing = true;
    set.reset();
    opened.file.reset();
}

// --- the /trace switch ---

struct LaunchOutput {
    std::string out;
    std::string err;
    bool platformMade = false;
    // The platform made, kept past the run so that its machine's history can be read; the run
    // gets a forwarding platform over it.
    std::unique_ptr<sim::SimPlatform> kept;
};

int launchWith(const std::vector<std::wstring>& args, LaunchOutput& output) {
    LaunchHooks hooks;
    hooks.writeStdout = [&](std::string_view b) { output.out.append(b); };
    hooks.writeStderr = [&](std::string_view b) { output.err.append(b); };
    offerSimulation(hooks);
    offerTracing(hooks);
    hooks.defaultPlatform = [&]() -> std::unique_ptr<Platform> {
        output.platformMade = true;
        output.kept = std::make_unique<sim::SimPlatform>(
            sim::loadDefaultMachine(),
            sim::Echo{[&](std::string_view b) { output.out.append(b); }, {}});
        output.kept->machine().keepHistory(true);
        output.kept->setClock(LocalTime{2024, 5, 1, 10, 0, 0});
        return std::make_unique<TracingPlatform>(*output.kept, TraceSink{});
    };
    std::wstring text;
    for (const auto& arg : args)
        text += (text.empty() ? L"" : L" ") + arg;
    int status = launch(args, text, hooks);
    unloadFirmwareImage();
    return status;
}

TEST(TraceSwitch, TraceFileThatCannotBeCreatedStopsBeforeAnythingRuns) {
    LaunchOutput output;
    EXPECT_EQ(launchWith({L"/s", L"/trace", L"/no/such/folder/trace.jsonl"}, output), 87);
    EXPECT_EQ(output.err, "velo: /no/such/folder/trace.jsonl: the trace file cannot be created\n");
    EXPECT_EQ(output.out, "");
    // The machine is made first, to take its run lock, and then receives nothing.
    ASSERT_TRUE(output.platformMade);
    EXPECT_TRUE(output.kept->machine().opens().empty());
    EXPECT_TRUE(output.kept->machine().requests().empty());
}

// What the command line, a file name or a recording holds is quoted with its control characters
// escaped: it can neither drive the terminal nor cut the message short.
TEST(Launch, MessagesShowControlCharactersOfTheirInputEscaped) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto unknownCall = dir / "velo-escape-call.jsonl";
    const auto departing = dir / "velo-escape-departure.jsonl";
    std::ofstream(unknownCall) << R"({"op":"\u001b[2J"})"
                               << "\n";
    std::ofstream(departing) << R"({"seq":1,"op":"openDevice","path":"\u001b[31m\u0000x"})"
                             << "\n";
    const std::string forged = "\\u001b[2J\\u001b[31mvelo: OK\\u0000\\u0085";
    const struct {
        std::vector<std::wstring> args;
        std::string err;
    } cases[] = {
        {{L"\x1b[2J\x1b[31mvelo: OK" + std::wstring(1, L'\0') + L"\x85"},
         "velo: unknown switch \"" + forged + "\"\n" + usageText()},
        {{L"/s", L"/machine", L"a\tb\x7f\x9b.json"},
         "velo: a\\u0009b\\u007f\\u009b.json: cannot be opened: No such file or directory\n"},
        {{L"/s", L"/replay", unknownCall.wstring()},
         "velo: " + unknownCall.string() + " line 1: unknown call \"\\u001b[2J\"\n"},
        {{L"/s", L"/replay", departing.wstring()},
         "velo: the run departs from its recording: call 1: expected openDevice path "
         "\\u001b[31m\\u0000x, came startUp\n"},
    };
    for (const auto& c : cases) {
        LaunchOutput output;
        EXPECT_EQ(launchWith(c.args, output), EXIT_BAD_COMMAND_LINE);
        EXPECT_EQ(output.err, c.err);
    }
    std::filesystem::remove(unknownCall);
    std::filesystem::remove(departing);
    // Bytes that are no UTF-8 (none of the callers passes any) are shown by their value.
    EXPECT_EQ(visibleText(std::string_view("\x9b\xe9!")), "\\x9b\\xe9!");
}

TEST(Launch, AnExceptionEndsTheRunWithTheInternalErrorStatusThatLinuxKeeps) {
    LaunchHooks hooks;
    std::string err;
    hooks.writeStderr = [&](std::string_view b) { err.append(b); };
    hooks.writeStdout = [](std::string_view) {};
    hooks.defaultPlatform = []() -> std::unique_ptr<Platform> { throw std::bad_alloc(); };
    const int status = launch({L"/s"}, L"/s", hooks);
    EXPECT_EQ(status, EXIT_INTERNAL_ERROR);
    EXPECT_EQ(status & 0xFF, status) << "the status reads the same after an 8-bit exit";
    EXPECT_EQ(err, "velo: internal error: std::bad_alloc\n");
}

// velo.exe carries no simulator: /machine and /replay are refused before anything is touched.
TEST(Launch, AProgramOnRealDrivesOnlyRefusesSimulatedMachines) {
    for (const std::wstring name : {L"/machine", L"/REPLAY"}) {
        LaunchHooks hooks;
        std::string out;
        std::string err;
        hooks.writeStdout = [&](std::string_view b) { out.append(b); };
        hooks.writeStderr = [&](std::string_view b) { err.append(b); };
        hooks.defaultPlatform = []() -> std::unique_ptr<Platform> {
            ADD_FAILURE() << "no machine may be made";
            return nullptr;
        };
        offerTracing(hooks);
        EXPECT_EQ(launch({L"/s", name, L"x.json"}, L"", hooks), EXIT_BAD_COMMAND_LINE);
        EXPECT_EQ(err, "velo: " + toUtf8(lowerAscii(name)) +
                           " is not available: this build runs on real drives only\n");
        EXPECT_EQ(out, "");
    }
}

TEST(TraceSwitch, TraceFileHoldsOneJsonLinePerCallOfTheRun) {
    const auto path = std::filesystem::temp_directory_path() / "velo-trace-switch-test.jsonl";
    LaunchOutput output;
    EXPECT_EQ(launchWith({L"/s", L"/trace", path.wstring()}, output), 0);
    std::ifstream file(path);
    std::string text;
    std::vector<Json> lines;
    while (std::getline(file, text))
        lines.push_back(Json::parse(text));
    std::filesystem::remove(path);

    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front()["op"], "startUp");
    int downloads = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["seq"], i + 1);
        if (lines[i]["op"] == "control" && lines[i]["inputLength"] == 4172)
            ++downloads;
    }
    EXPECT_EQ(downloads, 514) << "get info, 512 pieces, activate";
    EXPECT_NE(output.out.find("Return Code : 0)"), std::string::npos);
}

// --- the /replay switch ---

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A recording is checked whole before anything runs: what cannot be replayed exits 87 with the
// file and the line named, values nested deeper than any trace line and files larger than the
// limit (refused by their size) included.
TEST(ReplaySwitch, RecordingsThatCannotBeReplayedStopBeforeAnythingRuns) {
    test::ScratchDir dir;
    const auto path = dir.file("recording.jsonl");
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const struct {
        std::string content;  // empty: one byte larger than the limit
        std::string error;    // after "velo: FILE"
    } cases[] = {
        {R"({"op":"localTime","set":)" + deep + "}\n",
         " line 1: not a trace line: nested more than 3 deep"},
        {"{\"op\":\"startUp\",\"result\":\"ok\"}\n\n{\"op\":\"startUp\",\"x\":{\"y\":[[1]]}}",
         " line 3: not a trace line: nested more than 3 deep"},
        {R"({"op":"writeOutput","text":"[[[[\"{{"})"
         "\r\n{\"op\"}\n",
         " line 2: not a trace line"},
        {"{\"op\":\"startUp\"}\n{\"op\":\"format\"}", " line 2: unknown call \"format\""},
        {"", ": is larger than 1073741824 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        writeFile(path, c.content);
        if (c.content.empty())
            std::filesystem::resize_file(path, ReplayPlatform::RECORDING_LIMIT + 1);
        LaunchOutput output;
        EXPECT_EQ(launchWith({L"/s", L"/replay", path.wstring()}, output), 87);
        EXPECT_EQ(output.err, "velo: " + path.string() + c.error + "\n");
        EXPECT_EQ(output.out, "");
    }
}

// The run reads its recording again, a call at a time: a line that changed after the check
// ends it as a departure.
TEST(ReplaySwitch, ALineChangedAfterTheCheckIsADeparture) {
    test::ScratchDir dir;
    const auto path = dir.file("recording.jsonl");
    LaunchOutput recorded;
    ASSERT_EQ(launchWith({L"/s", L"/trace", path.wstring()}, recorded), 0);
    const std::string recording = test::readBytes(path);
    std::size_t line40 = 0;
    for (int line = 1; line < 40; ++line)
        line40 = recording.find('\n', line40) + 1;
    const std::size_t line40End = recording.find('\n', line40);
    const std::pair<std::string, std::string> cases[] = {
        {R"({"op":)", "line 40: not a trace line"},
        {std::string(recording.size(), ' '), "line 40: changed since the recording was checked"},
    };
    for (const auto& [changed, departure] : cases) {
        writeFile(path, recording);
        std::string err;
        LaunchHooks hooks;
        hooks.writeStdout = [](std::string_view) {};
        hooks.writeStderr = [&](std::string_view b) {
            if (err.empty())  // the announcement: the check is over, the run about to start
                writeFile(path,
                          recording.substr(0, line40) + changed + recording.substr(line40End));
            err.append(b);
        };
        hooks.announceSimulation = true;
        offerSimulation(hooks);
        EXPECT_EQ(launch({L"/s", L"/replay", path.wstring()}, L"", hooks), 87);
        unloadFirmwareImage();
        EXPECT_NE(err.find("velo: the run departs from its recording: " + path.string() + " " +
                           departure + "\n"),
                  std::string::npos)
            << err;
    }
}

}  // namespace
}  // namespace velo
