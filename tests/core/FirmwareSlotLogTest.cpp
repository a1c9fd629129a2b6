// The firmware slot log from its bytes, and whether an installed image waits for the reset.
#include "core/FirmwareSlotLog.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace velo {
namespace {

const std::wstring INSTALLED[] = {L"QLR4KAXA", L"QLR4KAXB", L"QLR4KCXA", L"QLR4KCXB"};

TEST(FirmwareSlotLog, ActiveFirmwareInfoAndTheRevisionWaitingForTheReset) {
    struct Case {
        const char* name;
        std::uint8_t afi;
        std::size_t slot;      // written with revision; slot 1 holds QLR2KAXA otherwise
        const char* revision;  // 8 bytes
        bool usable;
        std::optional<std::wstring> pending;
    };
    const Case cases[] = {
        {"nothing waits", 0x01, 2, "QLR4KAXA", true, std::nullopt},
        {"installed image waits in slot 2", 0x21, 2, "QLR4KAXA", true, L"QLR4KAXA"},
        {"installed image waits in slot 7", 0x71, 7, "QLR4KCXB", true, L"QLR4KCXB"},
        {"the active slot rewritten for the reset", 0x11, 1, "QLR4KAXB", true, L"QLR4KAXB"},
        {"another revision waits", 0x21, 2, "QLR2KAXB", true, std::nullopt},
        {"the waiting slot is empty", 0x31, 2, "QLR4KAXA", true, std::nullopt},
        {"no active slot", 0x20, 2, "QLR4KAXA", false, std::nullopt},
        {"reserved bit 3", 0x29, 2, "QLR4KAXA", false, std::nullopt},
        {"reserved bit 7", 0xA1, 2, "QLR4KAXA", false, std::nullopt},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, 512> page{};
        page[0] = c.afi;
        std::memcpy(&page[8], "QLR2KAXA", 8);
        std::memcpy(&page[8 * c.slot], c.revision, 8);
        const auto log = decodeFirmwareSlotLog(ByteView(page));
        ASSERT_EQ(log.has_value(), c.usable) << c.name;
        if (!log)
            continue;
        EXPECT_EQ(log->activeSlot, c.afi & 7) << c.name;
        EXPECT_EQ(log->nextResetSlot, c.afi >> 4) << c.name;
        EXPECT_EQ(log->revisions[c.slot - 1], std::wstring(c.revision, c.revision + 8)) << c.name;
        EXPECT_EQ(log->revisions[2], L"") << c.name << ": slot 3 is empty";
        EXPECT_EQ(pendingInstalledRevision(*log, INSTALLED), c.pending) << c.name;
    }
    std::array<std::uint8_t, 511> shortPage{};
    shortPage[0] = 0x01;
    EXPECT_FALSE(decodeFirmwareSlotLog(ByteView(shortPage)));
}

}  // namespace
}  // namespace velo
