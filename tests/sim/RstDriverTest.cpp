// The simulated RST driver answers pass-through identify, firmware requests and the RAID
// configuration on its storage port as the driver does, and refuses each malformed request.
#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;
using Json = nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

TEST(RstDriver, IdentifyAnswersTheDriveAtThePathIdAndOnlyThere) {
    OpenPort port;
    auto present = rstIdentifyRequest(2);
    EXPECT_EQ(port.status(present), 0u);
    EXPECT_EQ(textAt(present, 164 + 4, 6), "RSTSN2");
    EXPECT_EQ(present[164 + 319], 8);  // FWUG

    auto missing = rstIdentifyRequest(1);
    const auto sent = missing;
    EXPECT_EQ(port.status(missing), 1u);
    EXPECT_TRUE(std::equal(sent.begin() + 24, sent.end(), missing.begin() + 24));
    EXPECT_EQ(port.platform.machine().requests().back().pathId, std::optional<std::uint8_t>(1));
}

TEST(RstDriver, DownloadChecksPiecesAgainstTheDrivesGranularity) {
    struct Case {
        const char* name;
        std::uint8_t pathId;  // 0: FWUG 1, 2: FWUG 8
        std::uint64_t offset;
        std::size_t length;
        std::uint32_t status;
    };
    const std::vector<Case> cases = {
        {"4 KiB at granularity 1", 0, 4096, 4096, 0},
        {"32 KiB at granularity 8", 2, 32768, 32768, 0},
        {"last short piece", 2, 32768, 4096, 0},
        {"offset off 4 KiB", 0, 2048, 4096, 3},
        {"offset off 32 KiB", 2, 4096, 32768, 3},
        {"length off 4 KiB", 0, 0, 6144, 3},
        {"length off 32 KiB", 2, 0, 36864, 3},
    };
    for (const Case& c : cases) {
        OpenPort port;
        auto buffer = rstDownloadRequest(c.pathId, c.offset, Bytes(c.length, 0x5A));
        EXPECT_EQ(port.status(buffer), c.status) << c.name;
        EXPECT_EQ(port.drive(c.pathId).stagedPieces().size(), c.status == 0 ? 1u : 0u) << c.name;
    }
}

TEST(RstDriver, ActivateRunsAtOnceOrWaitsForAPowerCycle) {
    OpenPort port;
    const auto image = testImage("NEWREV01");
    for (std::uint8_t pathId : {std::uint8_t{0}, std::uint8_t{2}}) {
        auto piece = rstDownloadRequest(pathId, 0, image);
        ASSERT_EQ(port.status(piece), 0u);
    }
    auto immediate = rstActivateRequest(0, 2);
    EXPECT_EQ(port.status(immediate), 0u);
    EXPECT_EQ(port.drive(0).runningRevision(), "NEWREV01");
    auto reset = rstActivateRequest(2, 2);
    EXPECT_EQ(port.status(reset), 0x20u);
    EXPECT_EQ(port.drive(2).slotImage(2), image);
    EXPECT_EQ(port.drive(2).runningRevision(), "QLR2KAXA");
    port.platform.machine().powerCycle();
    EXPECT_EQ(port.drive(2).runningRevision(), "NEWREV01");
}

TEST(RstDriver, RaidConfigListsTheMembersThatFitAndStatesTheCount) {
    struct Case {
        const char* name;
        const char* members;
        std::uint32_t setIndex;
        std::size_t size;
        std::uint32_t status;
        std::uint8_t count;
        Bytes pathIds;  // at 64 + 136 i + 90
    };
    const std::vector<Case> cases = {
        {"two members", "[2, 0]", 0, 336, 0, 2, {2, 0}},
        {"four, room for two", "[0, 2, 7, 9]", 0, 336, 0, 4, {0, 2}},
        {"four, room for four", "[0, 2, 7, 9]", 0, 64 + 4 * 136, 0, 4, {0, 2, 7, 9}},
        {"no set 1", "[0, 2]", 1, 336, 1000, 0, {}},
        {"no room for the set", "[0]", 0, 63, 3, 0, {}},
    };
    for (const Case& c : cases) {
        Json machine = rstMachine();
        rstController(machine)["raidSets"][0]["members"] = Json::parse(c.members);
        OpenPort port(machine);
        auto buffer = raidConfigRequest(c.setIndex, c.size);
        EXPECT_EQ(port.status(buffer), c.status) << c.name;
        EXPECT_EQ(buffer[43], c.count) << c.name;
        for (std::size_t i = 0; i < c.pathIds.size(); ++i)
            EXPECT_EQ(buffer[64 + 136 * i + 90], c.pathIds[i]) << c.name << " entry " << i;
        if (c.count == 2) {
            EXPECT_EQ(textAt(buffer, 64, 17), "VANTORA QX7B2 2TB") << "identity of path id 2";
        }
    }
}

TEST(RstDriver, BrokenRequestsFailTheCallOrAnswerOnlyTheirStatus) {
    struct Case {
        const char* name;
        Bytes (*make)();
        std::function<void(Bytes&)> change;
        bool ok;
        std::uint32_t code;  // ReturnCode when ok, else the system error
    };
    auto identify = [] { return rstIdentifyRequest(0); };
    auto download = [] { return rstDownloadRequest(0, 0, Bytes(4096, 1)); };
    auto activate = [] { return rstActivateRequest(0, 2); };
    const std::vector<Case> cases = {
        {"shorter than the header", identify, [](Bytes& b) { b.resize(27); }, false, 122},
        {"header length 24", identify, [](Bytes& b) { put32(b, 0, 24); }, false, 1306},
        {"inbox signature", identify, [](Bytes& b) { std::memcpy(&b[4], "FIRMWARE", 8); }, false,
         1},
        {"pass-through too short", identify, [](Bytes& b) { put32(b, 24, 135); }, true, 3},
        {"NVM command set", identify, [](Bytes& b) { b[96] = 1; }, true, 3},
        {"data offset wraps", identify, [](Bytes& b) { put32(b, 116, 0xFFFFFFFF); }, true, 3},
        {"namespace identify", identify, [](Bytes& b) { put32(b, 72, 0); }, true, 2},
        {"data length under 4096", identify, [](Bytes& b) { put32(b, 120, 4095); }, true, 3},
        {"no request block", activate, [](Bytes& b) { put32(b, 24, 27); }, true, 3},
        {"unknown flag", activate, [](Bytes& b) { put32(b, 44, 0x11); }, true, 3},
        {"no drive at path id 1", activate, [](Bytes& b) { b[29] = 1; }, true, 1},
        {"function 1", activate, [](Bytes& b) { put32(b, 40, 1); }, true, 2},
        {"download block version 1", download, [](Bytes& b) { put32(b, 56, 1); }, true, 3},
        {"chunk past the block", download, [](Bytes& b) { put64(b, 72, 4097); }, true, 3},
    };
    for (const Case& c : cases) {
        OpenPort port;
        auto buffer = c.make();
        c.change(buffer);
        const auto before = buffer;
        auto result = port.send(buffer);
        ASSERT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(c.ok ? get32(buffer, 20) : result.error, c.code) << c.name;
        EXPECT_TRUE(std::equal(before.begin() + 24, before.end(), buffer.begin() + 24)) << c.name;
        EXPECT_FALSE(port.drive(0).hasStaged()) << c.name;
        EXPECT_EQ(port.drive(0).activeSlot(), 1) << c.name;
    }
    OpenPort port;
    auto other = rstIdentifyRequest(0);
    EXPECT_EQ(port.send(other, 0x4D004).error, 1u);
}

}  // namespace
}  // namespace velo::sim
