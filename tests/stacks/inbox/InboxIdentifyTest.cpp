#include "stacks/inbox/InboxIdentify.h"
#include "platform/Console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/FakeDevices.h"

namespace velo {
namespace {

using test::putLe;

const std::wstring DRIVE = L"\\\\.\\PHYSICALDRIVE1";

struct IdentifyData {
    std::string serial = "S3XNA0K123456       ";                     // 20
    std::string model = "VANTORA QX7B2 1TB                       ";  // 40
    std::string firmware = "QLR2KAXA";                               // 8
    std::uint8_t major = 1;
    std::uint8_t minor = 4;
    std::uint8_t fwug = 0;
};

class InboxIdentify : public ::testing::Test {
protected:
    // Answers the query with the identify data at buffer offset 48.
    void drive(const IdentifyData& data) {
        platform.devices[DRIVE] = {
            0, [data](std::uint32_t, std::span<std::uint8_t> b) {
                std::memcpy(&b[48 + 4], data.serial.data(), data.serial.size());
                std::memcpy(&b[48 + 24], data.model.data(), data.model.size());
                std::memcpy(&b[48 + 64], data.firmware.data(), data.firmware.size());
                b[48 + 81] = data.minor;
                putLe(b, 48 + 82, data.major, 2);
                b[48 + 319] = data.fwug;
                return ControlResult{true, 4144, 0};
            }};
    }
    int identify() {
        DiskRecord candidate = makeCandidate(DRIVE, DriverKind::Inbox);
        candidate.targetAddress = 7;  // identify puts -1 back
        Io io{platform, console};
        int result = identifyInboxDisk(io, candidate, targets);
        console.flush();
        return result;
    }

    test::FakePlatform platform;
    Console console{platform};
    DiskList targets;
};

TEST_F(InboxIdentify, RequestBytesMatchTheLayout) {
    drive({});
    ASSERT_EQ(identify(), 0);
    ASSERT_EQ(platform.sent.size(), 1u);
    const auto& request = platform.sent[0];
    EXPECT_EQ(request.controlCode, 0x2D1400u);
    EXPECT_EQ(request.inputLength, 4144u);
    std::vector<std::uint8_t> expected(4144, 0);
    const std::uint8_t head[] = {49, 0, 0, 0, 0, 0, 0, 0, 3,  0, 0, 0, 1, 0,    0, 0,
                                 1,  0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0x10, 0, 0};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(request.bytes, expected);
}

TEST_F(InboxIdentify, TextsAreCopiedWholeUpToTheFirstZeroByte) {
    IdentifyData data;
    data.model = std::string("VANTORA QX7B2", 13) + std::string(27, '\0');
    data.firmware = std::string("QLR2\0AXA", 8);
    drive(data);
    ASSERT_EQ(identify(), 0);
    ASSERT_EQ(targets.size(), 1u);
    const DiskRecord& disk = targets[0];
    EXPECT_EQ(disk.serialNumber, L"S3XNA0K123456       ");  // trailing blanks kept
    EXPECT_EQ(disk.modelNumber, L"VANTORA QX7B2");
    EXPECT_EQ(disk.firmwareRevision, L"QLR2");
    EXPECT_EQ(disk.devicePath, DRIVE);
    EXPECT_EQ(disk.driverKind, DriverKind::Inbox);
    EXPECT_EQ(disk.targetAddress, -1);
    EXPECT_EQ(disk.vrocDiskId, 0u);
    EXPECT_EQ(platform.output, "");
}

TEST_F(InboxIdentify, BytesAboveAsciiBecomeOneCharacterEach) {
    IdentifyData data;
    data.serial = std::string("\xC3\xA9", 2) + std::string(18, ' ');
    drive(data);
    ASSERT_EQ(identify(), 0);
    EXPECT_EQ(targets[0].serialNumber, std::wstring(L"\u00C3\u00A9") + std::wstring(18, L' '));
}

TEST_F(InboxIdentify, GranularityRule) {
    struct Case {
        std::uint8_t major, minor, fwug;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0, 0, 8, 1}, {1, 2, 0, 1}, {1, 2, 8, 1}, {1, 3, 8, 8},     {1, 3, 0, 1}, {1, 4, 0, 1},
        {1, 4, 1, 1}, {2, 0, 4, 4}, {2, 0, 8, 8}, {1, 4, 255, 255}, {0, 9, 8, 1},
    };
    for (const Case& c : cases) {
        targets.clear();
        IdentifyData data;
        data.major = c.major;
        data.minor = c.minor;
        data.fwug = c.fwug;
        drive(data);
        ASSERT_EQ(identify(), 0);
        EXPECT_EQ(targets[0].updateGranularity, c.expected)
            << int(c.major) << "." << int(c.minor) << " FWUG " << int(c.fwug);
    }
}

TEST_F(InboxIdentify, OpenFailurePrintsTheCodeInHex) {
    platform.devices[DRIVE] = {5, nullptr};
    EXPECT_EQ(identify(), 2);
    platform.devices[DRIVE] = {0xC0000001, nullptr};
    EXPECT_EQ(identify(), 2);
    EXPECT_TRUE(targets.empty());
    EXPECT_TRUE(platform.sent.empty());
    EXPECT_EQ(platform.output,
              "  [ERROR] Failed to get disk handle: 0x5\n\n"
              "  [ERROR] Failed to get disk handle: 0xc0000001\n\n");
}

TEST_F(InboxIdentify, FailedQueryAppendsNothingAndPrintsNothing) {
    platform.devices[DRIVE] = {0, [](std::uint32_t, std::span<std::uint8_t>) {
                                   return ControlResult{false, 0, 1};
                               }};
    EXPECT_EQ(identify(), 5);
    EXPECT_TRUE(targets.empty());
    EXPECT_EQ(platform.output, "");
}

}  // namespace
}  // namespace velo
