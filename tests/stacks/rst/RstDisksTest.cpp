// The Intel RST transport and the CSMI step against a scripted storage port: request bytes
// against layouts written out by hand, the lines printed and the results for every answer.
#include "stacks/rst/CsmiRaid.h"
#include "stacks/rst/RstDisks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

#include "platform/Console.h"
#include "tests/FakeDevices.h"

namespace velo {
namespace {

using test::get32;
using test::putLe;
using Bytes = std::vector<std::uint8_t>;

const std::wstring PORT = L"\\\\?\\pci#ven_8086&dev_a77f#3&11583659&0&b8#{2accfe60}";

// A buffer of `size` zero bytes with the given runs of bytes written in.
Bytes layout(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> runs) {
    Bytes bytes(size, 0);
    for (const auto& [at, run] : runs)
        std::copy(run.begin(), run.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

Bytes text(const char* ascii, std::size_t length) {
    return Bytes(ascii, ascii + length);
}

// The RST driver as the tests script it: identify data for every path id, a status or a
// failed call for the n-th request of each signature and function, and a RAID configuration.
struct RstPort {
    std::string serial{"S3XNA0K123456\0\0     ", 20};  // zero bytes inside, kept whole
    std::uint8_t fwug = 8;
    std::uint16_t major = 1;
    std::uint8_t minor = 4;
    std::map<int, std::uint32_t> downloadStatus;  // chunk number (from 1) -> status
    int failingDownloadCall = 0;                  // chunk number whose call fails
    std::uint32_t activateStatus = 0;
    bool failActivateCall = false;
    std::uint32_t identifyStatus = 0;
    // GET RAID CONFIG: answers per request, in order; the last one repeats.
    struct RaidReply {
        bool failCall = false;
        std::uint32_t status = 0;
        std::uint8_t driveCount = 0;
        std::vector<std::uint8_t> pathIds;  // written as far as the buffer holds them
    };
    std::vector<RaidReply> raidReplies;
    int downloads = 0;
    int raidRequests = 0;

    test::Answer answer() {
        return [this](std::uint32_t, std::span<std::uint8_t> b) -> ControlResult {
            const std::string signature(reinterpret_cast<const char*>(b.data()) + 4, 8);
            std::uint32_t status = 0;
            if (signature == "IntelNvm") {
                std::memcpy(&b[164 + 4], serial.data(), 20);
                std::memcpy(&b[164 + 24], "VANTORA QX7B2 1TB", 17);
                std::memcpy(&b[164 + 64], "QLR2KAXA", 8);
                b[164 + 81] = minor;
                putLe(b, 164 + 82, major, 2);
                b[164 + 319] = fwug;
                status = identifyStatus;
            } else if (signature == "IntelFw " && b[40] == 2) {
                ++downloads;
                if (downloads == failingDownloadCall)
                    return {false, 0, 31};
                if (auto found = downloadStatus.find(downloads); found != downloadStatus.end())
                    status = found->second;
            } else if (signature == "IntelFw " && b[40] == 3) {
                if (failActivateCall)
                    return {false, 0, 1117};
                status = activateStatus;
            } else if (signature == std::string("CSMIARY\0", 8)) {
                const RaidReply& reply =
                    raidReplies[std::min<std::size_t>(raidRequests++, raidReplies.size() - 1)];
                if (reply.failCall)
                    return {false, 0, 1117};
                status = reply.status;
                b[43] = reply.driveCount;
                // Entry i at 64 + 136 i, its path id 90 bytes in: bytes 154, 290, 426, ...
                for (std::size_t i = 0; i < reply.pathIds.size(); ++i) {
                    if (64 + 136 * (i + 1) <= b.size())
                        b[154 + 136 * i] = reply.pathIds[i];
                }
            }
            putLe(b, 20, status, 4);
            return {true, static_cast<std::uint32_t>(b.size()), 0};
        };
    }
};

class RstTransport : public ::testing::Test {
protected:
    void SetUp() override { platform.devices[PORT] = {0, port.answer()}; }

    DiskRecord disk(DriverKind kind = DriverKind::RstPassThrough, std::int64_t address = 3,
                    std::int32_t granularity = 1) {
        DiskRecord record = makeCandidate(PORT, kind, address);
        record.modelNumber = L"VANTORA QX7B2 1TB";
        record.serialNumber = L"S1";
        record.firmwareRevision = L"QLR2KAXA";
        record.updateGranularity = granularity;
        return record;
    }
    int update(const DiskRecord& record) {
        Io io{platform, console};
        const int result = rstUpdateDisk(io, record, {image, L"QLR4KAXA"}).resultCode;
        console.flush();
        return result;
    }
    int identify(std::int64_t address) {
        Io io{platform, console};
        const int result = rstIdentify(io, disk(DriverKind::RstPassThrough, address), targets);
        console.flush();
        return result;
    }
    int readRaidConfig() {
        Io io{platform, console};
        const int result =
            csmiReadRaidConfig(io, makeCandidate(PORT, DriverKind::RstRaid), targets);
        console.flush();
        return result;
    }
    std::string stepLines() const { return test::afterBanner(platform.output); }
    std::vector<std::uint8_t> pathIdsIdentified() const {
        std::vector<std::uint8_t> ids;
        for (const auto& request : platform.sent) {
            if (std::memcmp(request.bytes.data() + 4, "IntelNvm", 8) == 0)
                ids.push_back(request.bytes[29]);
        }
        return ids;
    }

    test::FakePlatform platform;
    Console console{platform};
    RstPort port;
    Bytes image = test::patternedImage();
    DiskList targets;
};

const Bytes HEADER_LENGTH = {0x1C, 0, 0, 0};

TEST_F(RstTransport, RequestBytesMatchHandWrittenLayouts) {
    // Identify Controller for path id 3, and for a record without an address (path id 0xFF).
    ASSERT_EQ(identify(3), 0);
    ASSERT_EQ(identify(-1), 0);
    for (std::uint8_t pathId : {std::uint8_t{3}, std::uint8_t{0xFF}}) {
        const Bytes expected =
            layout(4260, {{0, HEADER_LENGTH},
                          {4, text("IntelNvm", 8)},
                          {12, {10, 0, 0, 0, 0x08, 0x28, 0x00, 0xF0}},
                          {24, {0x88, 0x10, 0, 0}},  // 4232
                          {28, {1, pathId, 0, 0}},
                          {32, {0x06}},
                          {72, {1, 0, 0, 0}},
                          {116, {0xA4, 0, 0, 0, 0x00, 0x10, 0, 0}}});  // 164, 4096
        const auto& sent = platform.sent[pathId == 3 ? 0 : 1];
        EXPECT_EQ(sent.inputLength, 4260u);
        EXPECT_EQ(sent.bytes, expected) << int(pathId);
    }

    // Download chunk 2 (the third) at granularity 1 and 8, and the activate request.
    struct Chunk {
        std::int32_t granularity;
        std::size_t size;
        Bytes length, blockLength, offset, chunkLength;
    };
    for (const Chunk& c :
         {Chunk{1, 4184, {0x3C, 0x10, 0, 0}, {0x20, 0x10, 0, 0}, {0, 0x20, 0, 0}, {0, 0x10, 0, 0}},
          Chunk{8, 32856, {0x3C, 0x80, 0, 0}, {0x20, 0x80, 0, 0}, {0, 0, 1, 0}, {0, 0x80, 0, 0}}}) {
        platform.sent.clear();
        ASSERT_EQ(update(disk(DriverKind::RstPassThrough, 3, c.granularity)), 0);
        const std::size_t chunk = c.size - 88;
        ASSERT_EQ(platform.sent.size(), 0x200000 / chunk + 1) << c.granularity;
        Bytes expected =
            layout(c.size, {{0, HEADER_LENGTH},
                            {4, text("IntelFw ", 8)},
                            {12, {30, 0, 0, 0, 0x40, 0x00, 0x00, 0xF0}},
                            {24, c.length},
                            {28, {1, 3, 0, 0}},
                            {32, {1, 0, 0, 0, 24, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 56, 0, 0, 0}},
                            {52, c.blockLength},
                            {56, {2, 0, 0, 0, 32, 0, 0, 0}},
                            {64, c.offset},
                            {72, c.chunkLength},
                            {80, {0xFF}}});
        std::copy(image.begin() + 2 * chunk, image.begin() + 3 * chunk, expected.begin() + 88);
        EXPECT_EQ(platform.sent[2].bytes, expected) << c.granularity;
        EXPECT_EQ(platform.sent[2].inputLength, c.size);
    }
    const Bytes activate = layout(
        68, {{0, HEADER_LENGTH},
             {4, text("IntelFw ", 8)},
             {12, {30, 0, 0, 0, 0x40, 0x00, 0x00, 0xF0, 0, 0, 0, 0, 40, 0, 0, 0}},
             {28, {1, 3, 0, 0}},
             {32, {1, 0, 0, 0, 24, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 56, 0, 0, 0, 12, 0, 0, 0}},
             {56, {1, 0, 0, 0, 12, 0, 0, 0, 2, 0, 0, 0}}});
    EXPECT_EQ(platform.sent.back().bytes, activate);

    // GET RAID CONFIG for RAID set 0.
    platform.sent.clear();
    port.raidReplies = {{false, 0, 0, {}}};
    ASSERT_EQ(readRaidConfig(), 0);
    const Bytes raidConfig = layout(336, {{0, HEADER_LENGTH},
                                          {4, text("CSMIARY\0", 8)},
                                          {12, {30, 0, 0, 0, 11, 0, 0, 0, 0, 0, 0, 0}},
                                          {24, {0x34, 0x01, 0, 0}}});  // 308
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].bytes, raidConfig);
}

TEST_F(RstTransport, IdentifyTakesTheFieldsWholeAndIgnoresTheStatus) {
    port.identifyStatus = 5;  // a completed call is taken as it is
    ASSERT_EQ(identify(3), 0);
    ASSERT_EQ(targets.size(), 1u);
    const DiskRecord& record = targets[0];
    EXPECT_EQ(record.serialNumber, std::wstring(L"S3XNA0K123456\0\0     ", 20));
    EXPECT_EQ(record.modelNumber.size(), 40u);
    EXPECT_EQ(record.modelNumber.substr(0, 17), L"VANTORA QX7B2 1TB");
    EXPECT_EQ(record.firmwareRevision, L"QLR2KAXA");
    EXPECT_EQ(record.updateGranularity, 8);
    EXPECT_EQ(record.targetAddress, 3);
    EXPECT_EQ(record.driverKind, DriverKind::RstPassThrough);

    // Before NVMe 1.3 the granularity byte is reserved.
    port.minor = 2;
    ASSERT_EQ(identify(3), 0);
    EXPECT_EQ(targets.back().updateGranularity, 1);
}

TEST_F(RstTransport, IdentifyFailuresAppendNothing) {
    platform.devices[PORT].answer = [](std::uint32_t, std::span<std::uint8_t>) {
        return ControlResult{false, 0, 1117};
    };
    EXPECT_EQ(identify(3), 5);
    platform.devices[PORT].openError = 5;
    EXPECT_EQ(identify(3), 8);
    EXPECT_EQ(platform.sent.size(), 1u);
    EXPECT_TRUE(targets.empty());
    EXPECT_EQ(platform.output, "");
}

TEST_F(RstTransport, DownloadCoversTheWholeImageWhateverTheChunk) {
    struct Case {
        std::int32_t granularity;
        std::size_t requestSize, requests, lastPiece;
    };
    // FWUG 0xFF states no restriction: 4096-byte chunks. 12 KiB chunks leave 8 KiB at the end.
    for (const Case& c : {Case{255, 4184, 512, 4096}, Case{3, 12376, 171, 8192}}) {
        platform.sent.clear();
        ASSERT_EQ(update(disk(DriverKind::RstPassThrough, 3, c.granularity)), 0);
        ASSERT_EQ(platform.sent.size(), c.requests + 1) << c.granularity;
        Bytes received;
        for (std::size_t i = 0; i < c.requests; ++i) {
            const auto& b = platform.sent[i].bytes;
            ASSERT_EQ(b.size(), c.requestSize);
            EXPECT_EQ(get32(b, 24), c.requestSize - 28);
            EXPECT_EQ(get32(b, 52), c.requestSize - 56);
            EXPECT_EQ(get32(b, 64), received.size());
            const std::uint32_t length = get32(b, 72);
            received.insert(received.end(), b.begin() + 88, b.begin() + 88 + length);
            if (i + 1 == c.requests) {
                EXPECT_EQ(length, c.lastPiece);
                EXPECT_TRUE(std::all_of(b.begin() + 88 + length, b.end(),
                                        [](std::uint8_t x) { return x == 0; }));
            }
        }
        EXPECT_EQ(received, image) << c.granularity;
    }
}

TEST_F(RstTransport, ActivationTable) {
    struct Row {
        std::uint32_t status;
        const char* line;
        int result;
    };
    const std::vector<Row> rows = {
        {0, "  [PASS] Firmware activation succeeded.\n\n", 0},
        {1, "  [ERROR] Firmware activate failed: error returned\n\n", 1},
        {16, "  [ERROR] Firmware activate failed: error returned\n\n", 1},
        {2, "  [ERROR] Firmware activate parameter error: srbControl->ReturnCode 2\n\n", 1},
        {3, "  [ERROR] Firmware activate parameter error: srbControl->ReturnCode 3\n\n", 1},
        {4, "  [ERROR] Firmware activate parameter error: srbControl->ReturnCode 4\n\n", 1},
        {6, "  [ERROR] Firmware activate failed: invalid slot number\n\n", 1},
        {7, "  [ERROR] Firmware activate failed: invalid firmware image\n\n", 1},
        {32, "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n", 1602},
        {5, "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode 5\n\n",
         1},
        {31, "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode 31\n\n",
         1},
        {0xFFFFFFFF,
         "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode -1\n\n", 1},
    };
    for (const Row& row : rows) {
        platform.output.clear();
        port.activateStatus = row.status;
        EXPECT_EQ(update(disk()), row.result) << row.status;
        EXPECT_EQ(stepLines(), std::string("\n  [PASS] Firmware download succeeded.\n") + row.line)
            << row.status;
    }
    platform.output.clear();
    port.failActivateCall = true;
    EXPECT_EQ(update(disk()), 1);
    EXPECT_EQ(stepLines(),
              "\n  [PASS] Firmware download succeeded.\n"
              "  [ERROR] Firmware activate IOCTL failed: 0x45D\n");
}

TEST_F(RstTransport, FailedDownloadStopsAndSkipsActivation) {
    struct Case {
        const char* name;
        std::function<void(RstPort&)> setUp;
        const char* lines;
    };
    const std::vector<Case> cases = {
        {"call", [](RstPort& p) { p.failingDownloadCall = 2; },
         "  [ERROR] Firmware download IOCTL failed: 0x1F\n"
         "\n  [FAIL] Firmware download failed.\n"},
        {"status", [](RstPort& p) { p.downloadStatus[2] = 3; },
         "  [ERROR] Firmware download failed: srbControl->ReturnCode 3\n"
         "\n  [FAIL] Firmware download failed.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.sent.clear();
        platform.output.clear();
        port = RstPort{};
        platform.devices[PORT].answer = port.answer();
        c.setUp(port);
        EXPECT_EQ(update(disk()), 1);
        EXPECT_EQ(platform.sent.size(), 2u);  // chunks 1 and 2; no activation
        EXPECT_EQ(stepLines(), c.lines);
    }
}

TEST_F(RstTransport, BannerAndUnopenableController) {
    platform.devices[PORT].openError = 5;
    EXPECT_EQ(update(disk(DriverKind::RstRaid)), 5);
    EXPECT_TRUE(platform.sent.empty());
    EXPECT_EQ(platform.output,
              "\n---------------------------------------------\n"
              " Firmware Download | Target Disk Information \n"
              "---------------------------------------------\n"
              " Driver : IRST Driver\n"
              " Raid : Yes\n"
              " Model Number : VANTORA QX7B2 1TB\n"
              " Serial Number : S1\n"
              " Current FW : QLR2KAXA\n"
              " Updated FW : QLR4KAXA\n"
              "---------------------------------------------\n"
              "  [ERROR] Failed to get disk handle: 0x5\n\n");
    platform.output.clear();
    update(disk(DriverKind::RstPassThrough));
    EXPECT_NE(platform.output.find(" Raid : No\n"), std::string::npos);
}

TEST_F(RstTransport, RaidMembersComeFromTheConfiguration) {
    struct Case {
        const char* name;
        std::vector<RstPort::RaidReply> replies;
        std::vector<std::uint8_t> identified;
        std::size_t requests;  // GET RAID CONFIG requests sent
    };
    const std::vector<Case> cases = {
        {"two drives", {{false, 0, 2, {5, 9}}}, {5, 9}, 1},
        {"no drive", {{false, 0, 0, {5, 9}}}, {}, 1},
        {"an entry of zero bytes describes no drive", {{false, 0, 2, {0, 9}}}, {9}, 1},
        {"four drives, asked again", {{false, 0, 4, {1, 2, 3, 4}}}, {1, 2, 3, 4}, 2},
        {"the second reply names fewer",
         {{false, 0, 4, {1, 2, 3, 4}}, {false, 0, 3, {1, 2, 3, 4}}},
         {1, 2, 3},
         2},
        {"the second reply names more",
         {{false, 0, 3, {1, 2, 3, 4}}, {false, 0, 9, {1, 2, 3, 4}}},
         {1, 2, 3},
         2},
        {"the second call fails", {{false, 0, 4, {1, 2, 3, 4}}, {true, 0, 0, {}}}, {1, 2}, 2},
        {"the second reply is refused",
         {{false, 0, 4, {1, 2, 3, 4}}, {false, 1, 0, {}}},
         {1, 2},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.sent.clear();
        platform.output.clear();
        targets.clear();
        port.raidReplies = c.replies;
        port.raidRequests = 0;
        EXPECT_EQ(readRaidConfig(), 0);
        EXPECT_EQ(pathIdsIdentified(), c.identified);
        EXPECT_EQ(platform.sent.size() - c.identified.size(), c.requests);
        EXPECT_EQ(platform.output, "");
        for (const DiskRecord& member : targets) {
            EXPECT_EQ(member.driverKind, DriverKind::RstRaid);
            EXPECT_EQ(member.devicePath, PORT);
        }
        if (c.requests == 2) {
            // Room for every drive of the first reply, everything else as in the first request.
            const auto& again = platform.sent[1].bytes;
            const std::size_t size = 64 + 136 * c.replies[0].driveCount;
            ASSERT_EQ(again.size(), size);
            EXPECT_EQ(get32(again, 24), size - 28);
            EXPECT_TRUE(
                std::equal(again.begin(), again.begin() + 24, platform.sent[0].bytes.begin()));
        }
    }
}

TEST_F(RstTransport, RefusedRaidConfiguration) {
    port.raidReplies = {{false, 31, 2, {1, 2}}};
    EXPECT_EQ(readRaidConfig(), 5);
    EXPECT_EQ(platform.output, "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x1f\n\n");

    platform.output.clear();
    port.raidReplies = {{true, 0, 0, {}}};
    EXPECT_EQ(readRaidConfig(), 5);
    EXPECT_EQ(platform.output, "  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x45D\n\n");

    platform.output.clear();
    platform.sent.clear();
    platform.devices[PORT].openError = 5;
    EXPECT_EQ(readRaidConfig(), 0);
    EXPECT_EQ(platform.output, "");
    EXPECT_TRUE(platform.sent.empty() && targets.empty());
}

}  // namespace
}  // namespace velo
