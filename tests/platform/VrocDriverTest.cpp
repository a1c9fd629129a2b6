// The simulated VROC driver answers its queries and NVMe pass-through on a SCSI port as the
// driver does, refuses each malformed request, and shows the faults it is told to.
#include "tests/platform/SimTestSupport.h"

namespace velo::sim {
namespace {

using namespace velo::sim::testing;
using Json = nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t statusField(const Bytes& b) {
    return get32(b, 128) >> 17;
}

TEST(VrocDriver, CountQueriesStateWhatTheMachineFileSays) {
    struct Case {
        const char* name;
        const char* field;  // a stated count, or none
        Json value;
        std::uint32_t code;
        std::size_t size;
        std::size_t at;
        std::uint32_t expected;
    };
    const std::vector<Case> cases = {
        {"one volume", nullptr, {}, 0xE0002014, 32, 28, 1},
        {"volume count -1", "volumeCount", -1, 0xE0002014, 32, 28, 0xFFFFFFFF},
        {"two non-RAID disks", nullptr, {}, 0xE0002028, 32, 28, 2},
        {"large disk count", "diskCount", 4000000000u, 0xE0002028, 32, 28, 4000000000u},
        {"two members", nullptr, {}, 0xE0002018, 132, 128, 2},
        {"member count -2", "memberCount", -2, 0xE0002018, 132, 128, 0xFFFFFFFE},
    };
    for (const Case& c : cases) {
        Json machine = vrocMachine();
        if (c.field)
            vrocPort(machine)[c.field] = c.value;
        OpenScsi port(machine);
        auto buffer = vrocRequest(c.size, c.code);
        put32(buffer, 28, c.code == 0xE0002018 ? 1 : 0);
        EXPECT_EQ(port.status(buffer), 0u) << c.name;
        EXPECT_EQ(get32(buffer, c.at), c.expected) << c.name;
    }
}

TEST(VrocDriver, ListsHoldTheEntriesThatFitInTheRoomAndTheRequest) {
    struct Case {
        const char* name;
        std::uint32_t code;
        std::size_t size;
        std::uint32_t room;
        std::vector<std::uint32_t> ids;  // entry disk ids, 0 for a zero entry
    };
    const std::vector<Case> cases = {
        {"members in volume order", 0xE000201C, 2 * 108 + 40, 2 * 108, {257, 256}},
        {"room for one stated", 0xE000201C, 2 * 108 + 40, 108, {257, 0xEEEEEEEE}},
        {"one fits the request", 0xE000201C, 2 * 108 + 35, 2 * 108, {257}},
        {"non-RAID disks, room for three", 0xE000202C, 3 * 108 + 36, 3 * 108, {512, 513, 0}},
    };
    for (const Case& c : cases) {
        OpenScsi port;
        auto buffer = vrocRequest(c.size, c.code);
        const std::size_t at = c.code == 0xE000201C ? 36 : 32;
        put32(buffer, 28, c.code == 0xE000201C ? 1 : c.room);
        put32(buffer, 32, c.code == 0xE000201C ? c.room : 0);
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.end(), 0xEE);
        EXPECT_EQ(port.status(buffer), 0u) << c.name;
        for (std::size_t i = 0; i < c.ids.size(); ++i)
            EXPECT_EQ(get32(buffer, at + 108 * i), c.ids[i]) << c.name << " entry " << i;
    }
    OpenScsi port;
    auto members = vrocRequest(2 * 108 + 40, 0xE000201C);
    put32(members, 28, 1);
    put32(members, 32, 2 * 108);
    ASSERT_EQ(port.status(members), 0u);
    EXPECT_EQ(textAt(members, 36 + 108 + 4, 12), "VANTORA 1TB ");
    EXPECT_EQ(textAt(members, 36 + 108 + 52, 7), std::string("VSN256 "));
    EXPECT_EQ(members[36 + 108 + 52 + 20], 0) << "the serial field is zero-padded";
    EXPECT_EQ(get32(members, 36 + 108 + 100), 65536u);
}

TEST(VrocDriver, IdentifyAnswersTheDriveOrPathTargetIdWithoutOne) {
    OpenScsi port;
    auto identify = vrocIdentify(257);
    EXPECT_EQ(port.status(identify), 0u);
    EXPECT_EQ(textAt(identify, 152 + 4, 6), "VSN257");
    EXPECT_EQ(identify[152 + 319], 8);
    EXPECT_EQ(get32(identify, 128), 0x10042u) << "phase tag and command identifier";
    const RequestRecord& record = port.platform.machine().requests().back();
    EXPECT_EQ(record.kind, RequestKind::Identify);
    EXPECT_EQ(record.vrocDiskId, std::optional<std::uint32_t>(257));
    EXPECT_EQ(record.completion, std::optional<std::uint32_t>(0x10042));
    EXPECT_EQ(record.bytesReturned, 4252u);

    auto empty = vrocIdentify(512);
    EXPECT_EQ(port.status(empty), 14u);
    EXPECT_EQ(empty[152 + 4], 0x55) << "the data area stays as sent";
}

TEST(VrocDriver, DownloadPiecesAreCheckedAgainstTheGranularity) {
    struct Case {
        const char* name;
        std::uint32_t diskId;  // 256: FWUG 1, 257: FWUG 8
        std::uint64_t offset;
        std::size_t length;
        std::uint32_t nsid;
        std::uint32_t status;  // NVMe status field
    };
    const std::vector<Case> cases = {
        {"4 KiB at granularity 1", 256, 4096, 4096, 0, 0},
        {"32 KiB at granularity 8", 257, 32768, 32768, 0, 0},
        {"last short piece", 257, 32768, 4096, 0, 0},
        {"offset off 4 KiB", 256, 2048, 4096, 0, 0x002},
        {"offset off 32 KiB", 257, 4096, 32768, 0, 0x002},
        {"namespace id 1", 256, 0, 4096, 1, 0x002},
    };
    for (const Case& c : cases) {
        OpenScsi port;
        auto buffer = vrocDownload(c.diskId, c.offset, Bytes(c.length, 0x5A));
        put32(buffer, 56, c.nsid);
        const auto result = port.send(buffer);  // output length 153
        ASSERT_TRUE(result.ok) << c.name;
        EXPECT_EQ(result.bytesReturned, 153u) << c.name;
        EXPECT_EQ(get32(buffer, 20), 0u) << c.name;
        EXPECT_EQ(get32(buffer, 128), c.status << 17 | 0x10000 | 0x42) << c.name;
        EXPECT_EQ(port.drive(c.diskId).stagedPieces().size(), c.status == 0 ? 1u : 0u) << c.name;
    }
}

TEST(VrocDriver, CommitReplacesTheSlotAndActivatesAtThePowerCycle) {
    struct Case {
        const char* name;
        std::uint32_t cdw10;
        bool download;
        std::uint32_t status;
        std::optional<std::uint8_t> pending;
    };
    const std::vector<Case> cases = {
        {"action 1, slot 2", 0x0A, true, 0, 2},
        {"action 0, slot 2", 0x02, true, 0, std::nullopt},
        {"slot 5", 0x0D, true, 0x106, std::nullopt},
        {"nothing staged", 0x0A, false, 0x107, std::nullopt},
        {"action 3", 0x1A, true, 0x002, std::nullopt},
    };
    const auto image = testImage("NEWREV01");
    for (const Case& c : cases) {
        OpenScsi port;
        if (c.download) {
            auto piece = vrocDownload(256, 0, image);
            ASSERT_EQ(port.status(piece), 0u);
        }
        auto commit = vrocCommit(256, c.cdw10);
        EXPECT_EQ(port.status(commit), 0u) << c.name;
        EXPECT_EQ(statusField(commit), c.status) << c.name;
        EXPECT_EQ(port.drive(256).pendingSlot(), c.pending) << c.name;
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
        std::uint32_t output;  // 0: as the program sends it
        bool ok;
        std::uint32_t code;  // ReturnCode when ok, else the system error
    };
    auto identify = [] { return vrocIdentify(256); };
    auto download = [] { return vrocDownload(256, 0, Bytes(4096, 1)); };
    auto commit = [] { return vrocCommit(256, 0x0A); };
    auto count = [] { return vrocRequest(32, 0xE0002014); };
    auto none = [](Bytes&) {};
    const std::vector<Case> cases = {
        {"input under the header", count, [](Bytes& b) { b.resize(27); }, 0, false, 122},
        {"output under the header", count, none, 27, false, 122},
        {"header length 24", count, [](Bytes& b) { put32(b, 0, 24); }, 0, false, 1306},
        {"Length past the input", download, [](Bytes& b) { put32(b, 24, 4229); }, 0, false, 122},
        {"RST signature", count, [](Bytes& b) { std::memcpy(&b[4], "IntelNvm", 8); }, 0, true, 2},
        {"unknown control code", count, [](Bytes& b) { put32(b, 16, 0xE0002010); }, 0, true, 1},
        {"count query too short", count, [](Bytes& b) { put32(b, 24, 3); }, 0, true, 3},
        {"count reply past the output", count, none, 31, true, 4},
        {"no volume 2", [] { return vrocRequest(132, 0xE0002018); },
         [](Bytes& b) { put32(b, 28, 2); }, 0, true, 14},
        {"pass-through too short", commit, [](Bytes& b) { put32(b, 24, 123); }, 0, true, 3},
        {"Set Features", commit, [](Bytes& b) { b[52] = 0x09; }, 0, true, 5},
        {"namespace identify", identify, [](Bytes& b) { put32(b, 92, 0); }, 0, true, 5},
        {"I/O queue", commit, [](Bytes& b) { put32(b, 136, 1); }, 0, true, 6},
        {"identify to the device", identify, [](Bytes& b) { put32(b, 132, 1); }, 0, true, 11},
        {"commit from the device", commit, [](Bytes& b) { put32(b, 132, 2); }, 0, true, 11},
        {"metadata", commit, [](Bytes& b) { put32(b, 144, 4); }, 0, true, 12},
        {"piece past Length", download, [](Bytes& b) { put32(b, 24, 4216); }, 0, true, 3},
        {"DataBufferLen not the piece", download, [](Bytes& b) { put32(b, 140, 4092); }, 0, true,
         3},
        {"CDW10 wraps", download, [](Bytes& b) { put32(b, 92, 0xFFFFFFFF); }, 0, true, 3},
        {"ReturnBufferLen short of identify", identify, [](Bytes& b) { put32(b, 148, 4247); }, 0,
         true, 4},
        {"output short of ReturnBufferLen", identify, none, 4251, true, 4},
        {"disk id not listed", commit, [](Bytes& b) { put32(b, 20, 999); }, 0, true, 14},
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
        EXPECT_FALSE(port.platform.machine().requests().back().completion) << c.name;
    }
    OpenScsi port;
    auto other = vrocIdentify(256);
    EXPECT_EQ(port.file->control(0x4D004, other, 4252).error, 1u);
}

TEST(VrocDriver, PortsAreDeviceFilesOnlyWhereListed) {
    Json machine = vrocMachine();
    machine["scsiPorts"].push_back(Json::parse(R"({"port": 3, "driver": "none"})"));
    SimPlatform platform(loadOrFail(machine));
    auto none = platform.openDevice(L"\\\\.\\SCSI3:", 0xC0000000, 0, 0).file;
    ASSERT_TRUE(none);
    auto count = vrocRequest(32, 0xE0002014);
    EXPECT_EQ(none->control(0x4D008, count, 32).error, 1u);
    EXPECT_EQ(platform.openDevice(L"\\\\.\\Scsi4:", 0xC0000000, 0, 0).error, 2u);
    auto set = platform.deviceInfoSet(STORAGE_PORT_INTERFACE_CLASS, 0x12);
    ASSERT_TRUE(set);
    EXPECT_FALSE(set->deviceAt(0));
}

TEST(VrocFaults, CompletionErrorAndOpenFaultsHitOnlyTheirRequest) {
    Json machine = vrocMachine();
    vrocPort(machine)["disks"][0]["faults"] =
        Json::parse(R"({"requests": [{"request": "download", "nth": 2, "completion": 131072}]})");
    vrocPort(machine)["faults"] = Json::parse(
        R"({"open": [{"nth": 2, "error": 5}],
            "requests": [{"request": "disk-list", "nth": 1, "error": 31}]})");
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

    const std::wstring path = L"\\\\.\\Scsi2:";
    EXPECT_EQ(port.platform.openDevice(path, 0xC0000000, 0, 0).error, 5u);
    EXPECT_EQ(port.platform.openDevice(path, 0xC0000000, 0, 0).error, 0u);
}

}  // namespace
}  // namespace velo::sim
