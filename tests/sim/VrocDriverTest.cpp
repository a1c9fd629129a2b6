// The simulated VROC driver answers its queries and NVMe pass-through on a SCSI port as the
// driver does, refuses each malformed request, and shows the faults it is told to.
#include "tests/sim/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;
using Json = nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

TEST(VrocDriver, QueriesStateTheCountsAndListTheEntriesThatFit) {
    struct Case {
        const char* name;
        const char* count;  // a stated count, or none
        std::int64_t stated;
        std::uint32_t code;
        std::size_t size;
        std::uint32_t in28, in32;
        std::size_t at;                    // the answer's first dword, entries 108 bytes apart
        std::vector<std::uint32_t> words;  // a count, or entry disk ids (0: zero entry)
    };
    const std::vector<Case> cases = {
        {"one volume", nullptr, 0, 0xE0002014, 32, 0, 0, 28, {1}},
        {"volume count -1", "volumeCount", -1, 0xE0002014, 32, 0, 0, 28, {0xFFFFFFFF}},
        {"two non-RAID disks", nullptr, 0, 0xE0002028, 32, 0, 0, 28, {2}},
        {"large disk count", "diskCount", 4000000000, 0xE0002028, 32, 0, 0, 28, {4000000000}},
        {"member count", "memberCount", 7, 0xE0002018, 132, 1, 0, 128, {7}},
        {"members in volume order", nullptr, 0, 0xE000201C, 256, 1, 216, 36, {257, 256}},
        {"room stated for one", nullptr, 0, 0xE000201C, 256, 1, 108, 36, {257, 0xEEEEEEEE}},
        {"request fits one", nullptr, 0, 0xE000201C, 251, 1, 216, 36, {257}},
        {"non-RAID, room for three", nullptr, 0, 0xE000202C, 360, 324, 0, 32, {512, 513, 0}},
    };
    for (const Case& c : cases) {
        Json machine = vrocMachine();
        if (c.count)
            machine["scsiPorts"][0][c.count] = c.stated;
        OpenScsi port(machine);
        auto buffer = vrocRequest(c.size, c.code);
        put32(buffer, 28, c.in28);
        if (c.size > 36) {
            put32(buffer, 32, c.in32);
            std::fill(buffer.begin() + 36, buffer.end(), 0xEE);
        }
        EXPECT_EQ(port.status(buffer), 0u) << c.name;
        for (std::size_t i = 0; i < c.words.size(); ++i)
            EXPECT_EQ(get32(buffer, c.at + 108 * i), c.words[i]) << c.name << " word " << i;
        if (c.words.size() == 2 && c.words[1] == 256) {
            EXPECT_EQ(textAt(buffer, 144 + 4, 12), "VANTORA 1TB ");
            EXPECT_EQ(textAt(buffer, 144 + 52, 21), std::string("VSN256              \0", 21));
            EXPECT_EQ(get32(buffer, 144 + 100), 65536u);
        }
    }
}

TEST(VrocDriver, IdentifyAnswersTheDriveOrPathTargetIdWithoutOne) {
    OpenScsi port;
    auto identify = vrocRequest(4252, 0xE0002000, 257, 0x06, 1);
    EXPECT_EQ(port.status(identify), 0u);
    EXPECT_EQ(textAt(identify, 152 + 4, 6), "VSN257");
    EXPECT_EQ(get32(identify, 128), 0x10042u) << "phase tag and command identifier";
    const RequestRecord& record = port.platform.machine().requests().back();
    EXPECT_EQ(record.vrocDiskId, std::optional<std::uint32_t>(257));
    EXPECT_EQ(record.completion, std::optional<std::uint32_t>(0x10042));
    EXPECT_EQ(record.bytesReturned, 4252u);

    auto empty = vrocRequest(4252, 0xE0002000, 512, 0x06, 1);
    empty[152] = 0x55;
    EXPECT_EQ(port.status(empty), 14u);
    EXPECT_EQ(empty[152], 0x55) << "the data area stays as sent";
}

TEST(VrocDriver, DownloadPiecesAreCheckedAgainstTheGranularity) {
    struct Case {
        const char* name;
        std::uint32_t diskId;  // 256: FWUG 1, 257: FWUG 8
        std::uint64_t offset;
        std::size_t length;
        std::uint32_t status;  // NVMe status field
    };
    const std::vector<Case> cases = {
        {"4 KiB at granularity 1", 256, 4096, 4096, 0},
        {"32 KiB at granularity 8", 257, 32768, 32768, 0},
        {"last short piece", 257, 32768, 4096, 0},
        {"offset off 4 KiB", 256, 2048, 4096, 0x002},
        {"offset off 32 KiB", 257, 4096, 32768, 0x002},
    };
    for (const Case& c : cases) {
        OpenScsi port;
        auto buffer = vrocDownload(c.diskId, c.offset, Bytes(c.length, 0x5A));
        const auto result = port.send(buffer);  // output length 153
        ASSERT_TRUE(result.ok) << c.name;
        EXPECT_EQ(result.bytesReturned, 153u) << c.name;
        EXPECT_EQ(get32(buffer, 20), 0u) << c.name;
        EXPECT_EQ(get32(buffer, 128), c.status << 17 | 0x10042) << c.name;
        EXPECT_EQ(port.drive(c.diskId).stagedPieces().size(), c.status == 0 ? 1u : 0u) << c.name;
    }
}

TEST(VrocDriver, CommitReplacesTheSlotAndActivatesAtThePowerCycle) {
    struct Case {
        const char* name;
        std::uint32_t cdw10;
        bool download;
        std::uint32_t status;
        bool pending;
    };
    const std::vector<Case> cases = {
        {"action 1, slot 2", 0x0A, true, 0, true}, {"action 0, slot 2", 0x02, true, 0, false},
        {"slot 5", 0x0D, true, 0x106, false},      {"nothing staged", 0x0A, false, 0x107, false},
        {"action 3", 0x1A, true, 0x002, false},
    };
    const auto image = testImage("NEWREV01");
    for (const Case& c : cases) {
        OpenScsi port;  // disk 256 activates at once on its own
        auto piece = vrocDownload(256, 0, image);
        EXPECT_TRUE(!c.download || port.status(piece) == 0) << c.name;
        auto commit = vrocRequest(153, 0xE0002000, 256, 0x10, c.cdw10);
        EXPECT_EQ(port.status(commit), 0u) << c.name;
        EXPECT_EQ(get32(commit, 128) >> 17, c.status) << c.name;
        EXPECT_EQ(port.drive(256).slotImage(2) == image, c.status == 0) << c.name;
        EXPECT_EQ(port.drive(256).runningRevision(), "QLR2KAXA") << c.name;
        port.platform.machine().powerCycle();
        EXPECT_EQ(port.drive(256).runningRevision(), c.pending ? "NEWREV01" : "QLR2KAXA") << c.name;
    }
}

TEST(VrocDriver, BrokenRequestsFailTheCallOrAnswerOnlyTheirStatus) {
    struct Case {
        const char* name;
        Bytes (*make)();
        std::function<void(Bytes&)> change;
        std::uint32_t output;  // 0: as the program asks
        bool ok;
        std::uint32_t code;  // ReturnCode when ok, else the system error
    };
    auto identify = [] { return vrocRequest(4252, 0xE0002000, 256, 0x06, 1); };
    auto download = [] { return vrocDownload(256, 0, Bytes(4096, 1)); };
    auto commit = [] { return vrocRequest(153, 0xE0002000, 256, 0x10, 0x0A); };
    auto count = [] { return vrocRequest(32, 0xE0002014); };
    auto as = [](std::size_t at, std::uint32_t value) {
        return [at, value](Bytes& b) { put32(b, at, value); };
    };
    const std::vector<Case> cases = {
        {"output under the header", count, as(28, 0), 27, false, 122},
        {"Length past the input", download, as(24, 4229), 0, false, 122},
        {"other signature", count, [](Bytes& b) { b[4] = 'X'; }, 0, true, 2},
        {"unknown control code", count, as(16, 0xE0002010), 0, true, 1},
        {"count reply past the output", count, as(28, 0), 31, true, 4},
        {"no volume 2", [] { return vrocRequest(132, 0xE0002018); }, as(28, 2), 0, true, 14},
        {"pass-through too short", commit, as(24, 123), 0, true, 3},
        {"namespace identify", identify, as(92, 0), 0, true, 5},
        {"I/O queue", commit, as(136, 1), 0, true, 6},
        {"identify to the device", identify, as(132, 1), 0, true, 11},
        {"metadata", commit, as(144, 4), 0, true, 12},
        {"piece past Length", download, as(24, 4216), 0, true, 3},
        {"CDW10 wraps", download, as(92, 0xFFFFFFFF), 0, true, 3},
        {"output short of ReturnBufferLen", identify, as(28, 0), 4251, true, 4},
        {"disk id not listed", commit, as(20, 999), 0, true, 14},
    };
    for (const Case& c : cases) {
        OpenScsi port;
        auto buffer = c.make();
        c.change(buffer);
        const auto before = buffer;
        auto result = port.send(buffer, c.output);
        ASSERT_EQ(result.ok, c.ok) << c.name;
        EXPECT_EQ(c.ok ? get32(buffer, 20) : result.error, c.code) << c.name;
        EXPECT_TRUE(std::equal(before.begin() + 24, before.end(), buffer.begin() + 24)) << c.name;
        EXPECT_FALSE(port.drive(256).hasStaged()) << c.name;
    }
}

TEST(VrocDriver, PortsOpenAsListedAndWithoutTheDriverFailEveryRequest) {
    Json machine = vrocMachine();
    machine["scsiPorts"][0]["faults"]["open"] = Json::parse(R"([{"nth": 2, "error": 5}])");
    machine["scsiPorts"].push_back(Json::parse(R"({"port": 3, "driver": "none"})"));
    SimPlatform platform(loadOrFail(machine));
    std::vector<std::uint32_t> errors;
    for (const wchar_t* path : {L"\\\\.\\Scsi2:", L"\\\\.\\scsi2:", L"\\\\.\\Scsi4:"})
        errors.push_back(platform.openDevice(path, 0xC0000000, 0, 0).error);
    EXPECT_EQ(errors, (std::vector<std::uint32_t>{0, 5, 2}));
    auto none = platform.openDevice(L"\\\\.\\SCSI3:", 0xC0000000, 0, 0).file;
    ASSERT_TRUE(none);
    auto count = vrocRequest(32, 0xE0002014);
    EXPECT_EQ(none->control(0x4D008, count, 32).error, 1u);
}

TEST(VrocFaults, CompletionAndErrorFaultsHitOnlyTheirRequest) {
    Json machine = vrocMachine();
    Json& port2 = machine["scsiPorts"][0];
    port2["disks"][0]["faults"] =
        Json::parse(R"({"requests": [{"request": "download", "nth": 2, "completion": 131072}]})");
    port2["faults"] =
        Json::parse(R"({"requests": [{"request": "disk-list", "nth": 1, "error": 31}]})");
    OpenScsi port(machine);
    std::vector<std::uint32_t> completions;
    for (std::uint64_t at = 0; at < 3 * 4096; at += 4096) {
        auto piece = vrocDownload(256, at, Bytes(4096, 9));
        EXPECT_EQ(port.status(piece), 0u);
        completions.push_back(get32(piece, 128));
    }
    EXPECT_EQ(completions, (std::vector<std::uint32_t>{0x10042, 0x20000, 0x10042}));
    EXPECT_EQ(port.drive(256).stagedPieces().size(), 2u);

    auto list = vrocRequest(3 * 108 + 36, 0xE000202C);
    const auto sent = list;
    EXPECT_EQ(port.send(list).error, 31u);
    EXPECT_EQ(list, sent);
    EXPECT_EQ(port.status(list), 0u) << "the first only";
}

}  // namespace
}  // namespace velo::sim
