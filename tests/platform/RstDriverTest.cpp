// The simulated RST driver answers pass-through identify, firmware requests and the RAID
// configuration on its storage port as the driver does, and refuses each malformed request.
#include "tests/platform/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;
using Json = nlohmann::json;

TEST(RstDriverIdentify, AnswersTheDriveAtThePathIdAndOnlyThere) {
    OpenPort port;
    auto present = rstIdentifyRequest(2);
    EXPECT_EQ(port.status(present), 0u);
    EXPECT_EQ(textAt(present, 164 + 4, 20), "RSTSN2              ");
    EXPECT_EQ(textAt(present, 164 + 24, 17), "VANTORA QX7B2 2TB");
    EXPECT_EQ(textAt(present, 164 + 64, 8), "QLR2KAXA");
    EXPECT_EQ(present[164 + 319], 8);  // FWUG

    auto missing = rstIdentifyRequest(1);
    const auto sent = missing;
    EXPECT_EQ(port.status(missing), 1u);
    EXPECT_TRUE(std::equal(sent.begin() + 164, sent.end(), missing.begin() + 164));

    const auto history = port.platform.machine().requestsOfKind(RequestKind::Identify);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].pathId, std::optional<std::uint8_t>(2));
    EXPECT_EQ(history[1].pathId, std::optional<std::uint8_t>(1));
    EXPECT_EQ(history[1].status, std::optional<std::uint32_t>(1));
    EXPECT_FALSE(history[1].note.empty());
}

TEST(RstDriverDownload, PiecesAreCheckedAgainstTheDrivesGranularity) {
    struct Case {
        const char* name;
        std::uint8_t pathId;  // 0: FWUG 1, 2: FWUG 8
        std::uint64_t offset;
        std::size_t length;
        std::uint32_t status;
    };
    const std::vector<Case> cases = {
        {"4 KiB piece at granularity 1", 0, 4096, 4096, 0},
        {"32 KiB piece at granularity 8", 2, 32768, 32768, 0},
        {"last short piece", 2, 32768, 4096, 0},
        {"offset off the 4 KiB unit", 0, 2048, 4096, 3},
        {"offset off the 32 KiB unit", 2, 4096, 32768, 3},
        {"length not a multiple of 4 KiB", 0, 0, 6144, 3},
        {"length not a multiple of 32 KiB", 2, 0, 36864, 3},
        {"no drive at the path id", 1, 0, 4096, 1},
    };
    for (const Case& c : cases) {
        OpenPort port;
        auto buffer =
            rstDownloadRequest(c.pathId, c.offset, std::vector<std::uint8_t>(c.length, 0x5A));
        EXPECT_EQ(port.status(buffer), c.status) << c.name;
        if (c.pathId == 1)
            continue;
        const auto& pieces = port.drive(c.pathId).stagedPieces();
        if (c.status == 0) {
            ASSERT_EQ(pieces.size(), 1u) << c.name;
            EXPECT_EQ(pieces[0], std::make_pair(c.offset, std::uint64_t{c.length})) << c.name;
        } else {
            EXPECT_TRUE(pieces.empty()) << c.name;
        }
    }
}

TEST(RstDriverActivate, ImmediateRunsAtOnceAndResetWaitsForAPowerCycle) {
    OpenPort port;
    const auto image = testImage("NEWREV01");
    for (std::uint8_t pathId : {std::uint8_t{0}, std::uint8_t{2}}) {
        auto piece = rstDownloadRequest(pathId, 0, image);
        ASSERT_EQ(port.status(piece), 0u);
    }
    auto immediate = rstActivateRequest(0, 2);
    EXPECT_EQ(port.status(immediate), 0u);
    EXPECT_EQ(port.drive(0).runningRevision(), "NEWREV01");
    EXPECT_EQ(port.drive(0).slotImage(2), image);

    auto reset = rstActivateRequest(2, 2);
    EXPECT_EQ(port.status(reset), 0x20u);
    EXPECT_EQ(port.drive(2).pendingSlot(), std::optional<std::uint8_t>(2));
    EXPECT_EQ(port.drive(2).runningRevision(), "QLR2KAXA");
    port.platform.machine().powerCycle();
    EXPECT_EQ(port.drive(2).runningRevision(), "NEWREV01");
    EXPECT_FALSE(port.drive(2).pendingSlot());
}

TEST(RstDriverRaidConfig, ListsTheMembersThatFitAndStatesTheCount) {
    struct Case {
        const char* name;
        const char* sets;
        std::uint32_t setIndex;
        std::size_t size;
        std::uint32_t status;
        std::uint8_t count;
        std::vector<std::uint8_t> entries;  // path ids at 64 + 136 i + 90
    };
    const std::vector<Case> cases = {
        {"two members", R"([{"members": [2, 0]}])", 0, 336, 0, 2, {2, 0}},
        {"four members, room for two", R"([{"members": [0, 2, 7, 9]}])", 0, 336, 0, 4, {0, 2}},
        {"four members, room for four",
         R"([{"members": [0, 2, 7, 9]}])",
         0,
         64 + 4 * 136,
         0,
         4,
         {0, 2, 7, 9}},
        {"stated count", R"([{"members": [0], "driveCount": 3}])", 0, 336, 0, 3, {0, 0}},
        {"no second set", R"([{"members": [0, 2]}])", 1, 336, 1000, 0, {}},
        {"too short for the set fields", R"([{"members": [0]}])", 0, 63, 3, 0, {}},
    };
    for (const Case& c : cases) {
        Json machine = rstMachine();
        rstController(machine)["raidSets"] = Json::parse(c.sets);
        OpenPort port(machine);
        auto buffer = raidConfigRequest(c.setIndex, c.size);
        EXPECT_EQ(port.status(buffer), c.status) << c.name;
        EXPECT_EQ(buffer[43], c.count) << c.name;
        for (std::size_t i = 0; i < c.entries.size(); ++i)
            EXPECT_EQ(buffer[64 + 136 * i + 90], c.entries[i]) << c.name << " entry " << i;
    }
    // An entry carries its drive's identity; a path id without a drive is left blank.
    Json machine = rstMachine();
    rstController(machine)["raidSets"] = Json::parse(R"([{"members": [2, 5]}])");
    OpenPort port(machine);
    auto buffer = raidConfigRequest(0);
    ASSERT_EQ(port.status(buffer), 0u);
    EXPECT_EQ(textAt(buffer, 64, 17), "VANTORA QX7B2 2TB");
    EXPECT_EQ(textAt(buffer, 64 + 40, 8), "QLR2KAXA");
    EXPECT_EQ(textAt(buffer, 64 + 48, 8), "RSTSN2  ");
    EXPECT_EQ(textAt(buffer, 200, 88), std::string(88, ' '));
    EXPECT_EQ(buffer[200 + 90], 5);
}

TEST(RstDriverRequests, BrokenRequestsFailTheCallOrAnswerTheirStatus) {
    using Request = std::vector<std::uint8_t>;
    struct Case {
        const char* name;
        Request (*make)();
        std::function<void(Request&)> change;
        bool ok;
        std::uint32_t code;  // the ReturnCode when ok, else the system error
        std::uint32_t controlCode = SCSI_MINIPORT;
    };
    auto identify = [] { return rstIdentifyRequest(0); };
    auto download = [] { return rstDownloadRequest(0, 0, Request(4096, 1)); };
    auto activate = [] { return rstActivateRequest(0, 2); };
    auto setLength = [](Request& b, std::uint32_t length) {
        put32(b, 24, length);
        b.resize(28 + length);
    };
    const std::vector<Case> cases = {
        {"other control code", identify, [](Request&) {}, false, 1, 0x4D004},
        {"shorter than the header", identify, [](Request& b) { b.resize(27); }, false, 122},
        {"Length past the buffer", identify, [](Request& b) { put32(b, 24, 4233); }, false, 122},
        {"header length 24", identify, [](Request& b) { put32(b, 0, 24); }, false, 1306},
        {"unknown signature", identify, [](Request& b) { b[11] = 'X'; }, false, 1},
        {"inbox signature", identify, [](Request& b) { std::memcpy(b.data() + 4, "FIRMWARE", 8); },
         false, 1},
        {"firmware code on pass-through", identify, [](Request& b) { put32(b, 16, 0xF0000040); },
         false, 1},
        {"pass-through too short", identify, [&](Request& b) { setLength(b, 135); }, true, 3},
        {"address version 2", identify, [](Request& b) { b[28] = 2; }, true, 3},
        {"target id 1", identify, [](Request& b) { b[30] = 1; }, true, 3},
        {"LUN 1", identify, [](Request& b) { b[31] = 1; }, true, 3},
        {"NVM command set", identify, [](Request& b) { b[96] = 1; }, true, 3},
        {"data inside the request", identify, [](Request& b) { put32(b, 116, 160); }, true, 3},
        {"data past Length", identify, [](Request& b) { put32(b, 116, 165); }, true, 3},
        {"data offset wraps", identify, [](Request& b) { put32(b, 116, 0xFFFFFFFF); }, true, 3},
        {"namespace identify", identify, [](Request& b) { put32(b, 72, 0); }, true, 2},
        {"get log page", identify, [](Request& b) { b[32] = 0x02; }, true, 2},
        {"namespace 1", identify, [](Request& b) { put32(b, 36, 1); }, true, 2},
        {"data length under 4096", identify, [](Request& b) { put32(b, 120, 4095); }, true, 3},
        {"no request block", activate, [&](Request& b) { setLength(b, 27); }, true, 3},
        {"request block version 2", activate, [](Request& b) { put32(b, 32, 2); }, true, 3},
        {"request block size 20", activate, [](Request& b) { put32(b, 36, 20); }, true, 3},
        {"unknown flag", activate, [](Request& b) { put32(b, 44, 0x11); }, true, 3},
        {"function block in the request block", activate, [](Request& b) { put32(b, 48, 52); },
         true, 3},
        {"function block past Length", activate, [](Request& b) { put32(b, 52, 13); }, true, 3},
        {"function 1", activate, [](Request& b) { put32(b, 40, 1); }, true, 2},
        {"activate block version 2", activate, [](Request& b) { put32(b, 56, 2); }, true, 3},
        {"activate block shorter than 12", activate, [](Request& b) { put32(b, 52, 11); }, true, 3},
        {"download block version 1", download, [](Request& b) { put32(b, 56, 1); }, true, 3},
        {"download block size 24", download, [](Request& b) { put32(b, 60, 24); }, true, 3},
        {"chunk past the function block", download, [](Request& b) { put64(b, 72, 4097); }, true,
         3},
        {"CSMI code on firmware", download, [](Request& b) { put32(b, 16, 11); }, false, 1},
    };
    for (const Case& c : cases) {
        OpenPort port;
        auto buffer = c.make();
        c.change(buffer);
        const auto before = buffer;
        auto result = port.send(buffer, c.controlCode);
        ASSERT_EQ(result.ok, c.ok) << c.name;
        if (!c.ok) {
            EXPECT_EQ(result.error, c.code) << c.name;
            EXPECT_EQ(buffer, before) << c.name << ": a failed call must leave the buffer alone";
            continue;
        }
        EXPECT_EQ(result.bytesReturned, 28 + get32(buffer, 24)) << c.name;
        EXPECT_EQ(get32(buffer, 20), c.code) << c.name;
        EXPECT_TRUE(std::equal(before.begin() + 24, before.end(), buffer.begin() + 24))
            << c.name << ": a refused request is answered with its status only";
        EXPECT_FALSE(port.drive(0).hasStaged()) << c.name;
        EXPECT_EQ(port.drive(0).runningRevision(), "QLR2KAXA") << c.name;
    }
}

TEST(RstDisks, DisksWithoutADriveAnswerOnlyTheirDeviceNumber) {
    Json machine = rstMachine();
    rstController(machine)["disks"].push_back(
        {{"instanceId", "SCSI\\DISK&VEN_NVME&PROD_PASS\\4&1F2E3D4C&0&010000"},
         {"interfacePath", "\\\\?\\rst-pass-through"}});
    Json inbox = baseMachine()["controllers"][0];
    inbox["disks"][0].erase("drive");
    machine["controllers"].push_back(inbox);
    SimPlatform platform(loadOrFail(machine));
    struct Case {
        const wchar_t* path;
        std::optional<std::uint32_t> number;  // nothing: the device number fails with 1
        std::uint32_t otherError;
    };
    const std::vector<Case> cases = {
        {L"\\\\.\\PHYSICALDRIVE0", 0, 1},
        {L"\\\\?\\rst-pass-through", std::nullopt, 1},
        {L"\\\\.\\PHYSICALDRIVE3", 3, 21},
    };
    for (const Case& c : cases) {
        auto file = platform.openDevice(c.path, 0xC0000000, 3, 0).file;
        ASSERT_TRUE(file);
        std::vector<std::uint8_t> number(12);
        auto answered = file->control(GET_DEVICE_NUMBER, number, 0);
        EXPECT_EQ(answered.ok, c.number.has_value());
        if (c.number) {
            EXPECT_EQ(get32(number, 4), *c.number);
        } else {
            EXPECT_EQ(answered.error, 1u);
        }
        auto identify = identifyRequest();
        auto refused = file->control(QUERY_PROPERTY, identify, 4144);
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.error, c.otherError);
    }
}

}  // namespace
}  // namespace velo::sim
