#include "stacks/inbox/InboxFirmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/ImageCatalogue.h"
#include "platform/Console.h"
#include "tests/FakeDevices.h"

namespace velo {
namespace {

using test::putLe;

constexpr std::uint32_t MINIPORT = 0x4D008;
const std::wstring DRIVE = L"\\\\.\\PHYSICALDRIVE3";

struct Slot {
    std::uint8_t number;
    std::uint8_t readOnly;
};

// A miniport that answers get info with the given slots at data offset 52 and every other
// request with the given statuses.
struct Miniport {
    std::uint8_t upgradeSupport = 1;
    std::vector<Slot> slots = {{1, 0}, {2, 0}};
    std::uint32_t infoOffset = 52;
    std::uint8_t slotCount = 0xFF;  // 0xFF: the number of slots
    std::uint32_t getInfoStatus = 0;
    std::uint32_t activateStatus = 0;
    int failingDownload = 0;  // n-th download (1-based) fails
    bool failDownloadCall = false;
    bool failActivateCall = false;
    bool failGetInfoCall = false;
    int downloads = 0;

    test::Answer answer() {
        return [this](std::uint32_t, std::span<std::uint8_t> b) -> ControlResult {
            const std::uint32_t function = b[36];
            std::uint32_t status = 0;
            if (function == 1) {
                if (failGetInfoCall)
                    return {false, 0, 1117};
                status = getInfoStatus;
                putLe(b, 44, infoOffset, 4);
                if (infoOffset + 16 <= b.size()) {
                    b[infoOffset + 8] = upgradeSupport;
                    b[infoOffset + 9] =
                        slotCount == 0xFF ? static_cast<std::uint8_t>(slots.size()) : slotCount;
                    for (std::size_t i = 0; i < slots.size(); ++i) {
                        b[infoOffset + 16 + 16 * i] = slots[i].number;
                        b[infoOffset + 17 + 16 * i] = slots[i].readOnly;
                    }
                }
            } else if (function == 2) {
                ++downloads;
                if (downloads == failingDownload) {
                    if (failDownloadCall)
                        return {false, 0, 1117};
                    status = 0x40;
                }
            } else if (function == 3) {
                if (failActivateCall)
                    return {false, 0, 1117};
                status = activateStatus;
            }
            putLe(b, 20, status, 4);
            return {true, static_cast<std::uint32_t>(b.size()), 0};
        };
    }
};

class InboxTransport : public ::testing::Test {
protected:
    void SetUp() override { loadFirmwareImage(1); }
    void TearDown() override { unloadFirmwareImage(); }

    int update(std::int32_t granularity = 1, std::uint32_t imageSize = IMAGE_SIZE) {
        platform.devices[DRIVE] = {0, miniport.answer()};
        DiskRecord disk = makeCandidate(DRIVE, DriverKind::Inbox);
        disk.updateGranularity = granularity;
        Io io{platform, console};
        return inboxUpdateDisk(io, disk, {std::span(imageBuffer).first(imageSize), L""}).resultCode;
    }
    std::vector<std::uint32_t> functions() const {
        std::vector<std::uint32_t> list;
        for (const auto& request : platform.sent)
            list.push_back(request.bytes[36]);
        return list;
    }

    test::FakePlatform platform;
    Console console{platform};
    Miniport miniport;
};

// The request header and block, written out for a buffer of 4172 bytes (granularity 1).
std::vector<std::uint8_t> expectedHeader(std::uint8_t function) {
    std::vector<std::uint8_t> b(4172, 0);
    const std::uint8_t head[] = {
        0x1C, 0x00, 0x00, 0x00, 'F',  'I',  'R',  'M',  'W',      'A',  'R',  'E',   // length, sig
        0x1E, 0x00, 0x00, 0x00, 0x80, 0x07, 0x1B, 0x00, 0x00,     0x00, 0x00, 0x00,  // 30 s, code
        0x30, 0x10, 0x00, 0x00,                                                      // 4144
        0x01, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, function, 0x00, 0x00, 0x00,
        0x01, 0x00, 0x00, 0x00, 0x34, 0x00, 0x00, 0x00, 0x18,     0x10, 0x00, 0x00,  // 52, 4120
    };
    std::copy(std::begin(head), std::end(head), b.begin());
    return b;
}

TEST_F(InboxTransport, RequestBytesMatchTheLayout) {
    ASSERT_EQ(update(), 0);
    ASSERT_EQ(platform.sent.size(), 1u + 512u + 1u);
    for (const auto& request : platform.sent) {
        EXPECT_EQ(request.path, DRIVE);
        EXPECT_EQ(request.controlCode, MINIPORT);
        EXPECT_EQ(request.inputLength, 4172u);
    }
    EXPECT_EQ(platform.sent.front().bytes, expectedHeader(1));

    std::vector<std::uint8_t> download = expectedHeader(2);
    const std::uint8_t block[] = {0x01, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00,
                                  0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::copy(std::begin(block), std::end(block), download.begin() + 52);
    std::copy(imageBuffer.begin() + 0x1000, imageBuffer.begin() + 0x2000, download.begin() + 76);
    EXPECT_EQ(platform.sent[2].bytes, download);

    std::vector<std::uint8_t> activate = expectedHeader(3);
    const std::uint8_t activateBlock[] = {0x01, 0, 0, 0, 0x0C, 0, 0, 0, 0x01, 0, 0, 0};
    std::copy(std::begin(activateBlock), std::end(activateBlock), activate.begin() + 52);
    EXPECT_EQ(platform.sent.back().bytes, activate);
}

TEST_F(InboxTransport, DownloadCoversTheImageInOrder) {
    ASSERT_EQ(update(8), 0);
    ASSERT_EQ(platform.sent.size(), 1u + 64u + 1u);
    std::vector<std::uint8_t> received;
    for (std::size_t i = 1; i <= 64; ++i) {
        const auto& bytes = platform.sent[i].bytes;
        ASSERT_EQ(bytes.size(), 32844u);
        std::uint64_t offset = 0, length = 0;
        for (int k = 7; k >= 0; --k)
            offset = (offset << 8) | bytes[60 + k];
        for (int k = 7; k >= 0; --k)
            length = (length << 8) | bytes[68 + k];
        EXPECT_EQ(offset, received.size());
        EXPECT_EQ(length, 32768u);
        received.insert(received.end(), bytes.begin() + 76, bytes.end());
    }
    EXPECT_TRUE(
        std::equal(received.begin(), received.end(), imageBuffer.begin(), imageBuffer.end()));
}

TEST_F(InboxTransport, ChunksThatDoNotDivideTheImageEndWithTheRemainder) {
    ASSERT_EQ(update(3), 0);
    // 2 MiB / 12 KiB = 170 whole chunks and 8 KiB left.
    ASSERT_EQ(platform.sent.size(), 1u + 171u + 1u);
    const auto& last = platform.sent[171].bytes;
    ASSERT_EQ(last.size(), 12288u + 76u);
    EXPECT_EQ(last[60] | last[61] << 8 | last[62] << 16, 170 * 12288);
    EXPECT_EQ(last[68] | last[69] << 8 | last[70] << 16, 8192);
    EXPECT_TRUE(
        std::equal(last.begin() + 76, last.begin() + 76 + 8192, imageBuffer.begin() + 170 * 12288));
    EXPECT_TRUE(std::all_of(last.begin() + 76 + 8192, last.end(), [](auto b) { return b == 0; }));
}

TEST_F(InboxTransport, NoRestrictionGranularitySendsUnitChunks) {
    ASSERT_EQ(update(255), 0);
    ASSERT_EQ(platform.sent.size(), 514u);
    EXPECT_EQ(platform.sent[1].bytes.size(), 4172u);
}

TEST_F(InboxTransport, EmptyImageSendsNoChunkButActivates) {
    ASSERT_EQ(update(1, 0), 0);
    EXPECT_EQ(functions(), (std::vector<std::uint32_t>{1, 3}));
}

TEST_F(InboxTransport, SlotComesFromTheFirstWritableEntry) {
    miniport.slots = {{1, 1}, {2, 0}};
    ASSERT_EQ(update(), 0);
    EXPECT_EQ(platform.sent.back().bytes[60], 2);

    platform.sent.clear();
    miniport.slots = {{3, 0}, {1, 0}};
    ASSERT_EQ(update(), 0);
    EXPECT_EQ(platform.sent.back().bytes[60], 3);
}

TEST_F(InboxTransport, FailureTable) {
    struct Case {
        const char* name;
        std::function<void(Miniport&)> setUp;
        int result;
        std::vector<std::uint32_t> functions;  // 2 stands for every download sent
    };
    const std::vector<Case> cases = {
        {"get-info call fails", [](Miniport& m) { m.failGetInfoCall = true; }, 5, {1}},
        {"get-info status", [](Miniport& m) { m.getInfoStatus = 1; }, 5, {1}},
        {"no upgrade support", [](Miniport& m) { m.upgradeSupport = 0; }, 1, {1}},
        {"no slot", [](Miniport& m) { m.slots.clear(); }, 1, {1}},
        {"all read-only",
         [](Miniport& m) {
             m.slots = {{1, 1}, {2, 1}};
         },
         1,
         {1}},
        {"third download status", [](Miniport& m) { m.failingDownload = 3; }, 5, {1, 2, 2, 2}},
        {"third download call",
         [](Miniport& m) {
             m.failingDownload = 3;
             m.failDownloadCall = true;
         },
         5,
         {1, 2, 2, 2}},
        {"activate call fails", [](Miniport& m) { m.failActivateCall = true; }, 5, {}},
        {"activate status 7", [](Miniport& m) { m.activateStatus = 7; }, 1, {}},
        {"activate power cycle", [](Miniport& m) { m.activateStatus = 0x20; }, 1602, {}},
        {"reply offset outside the buffer", [](Miniport& m) { m.infoOffset = 5000; }, 5, {1}},
        {"offset at the end", [](Miniport& m) { m.infoOffset = 4172 - 8; }, 5, {1}},
        {"slot count past the buffer",
         [](Miniport& m) {
             m.slots = {{1, 1}};
             m.slotCount = 200;
             m.infoOffset = 4172 - 40;
         },
         5,
         {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.sent.clear();
        miniport = Miniport{};
        c.setUp(miniport);
        EXPECT_EQ(update(), c.result);
        auto sent = functions();
        if (c.functions.empty()) {
            // Ran to activation: get info, 512 downloads, activate.
            ASSERT_EQ(sent.size(), 514u);
            EXPECT_EQ(sent.back(), 3u);
        } else {
            EXPECT_EQ(sent, c.functions);
        }
    }
}

TEST_F(InboxTransport, UnopenableDriveSendsNothing) {
    platform.devices[DRIVE] = {5, miniport.answer()};
    DiskRecord disk = makeCandidate(DRIVE, DriverKind::Inbox);
    Io io{platform, console};
    EXPECT_EQ(inboxUpdateDisk(io, disk, {imageBuffer, L""}).resultCode, 5);
    EXPECT_TRUE(platform.sent.empty());
}

TEST_F(InboxTransport, PrintsNothing) {
    miniport.activateStatus = 7;
    update();
    console.flush();
    EXPECT_EQ(platform.output, "");
}

}  // namespace
}  // namespace velo
