// What each stack's read of the firmware slot log is held to on a simulated machine: the one
// request it sends, byte for byte; nothing printed; and the log made of the answer.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "core/FirmwareSlotLog.h"
#include "platform/Console.h"
#include "tests/TestSupport.h"
#include "tests/sim/SimTestSupport.h"

namespace velo::test {

struct SlotLogCase {
    const char* name;
    const char* fault;  // a request fault of kind log-page for the drive, or none
    bool commit;        // an image committed to slot 2 waits for the reset
    int active, next;   // of the log read; active 0: none
};

inline void checkSlotLog(const SlotLogCase& c, const nlohmann::json& machine,
                         const std::vector<std::uint8_t>& expected,
                         const std::function<sim::NvmeDrive*(sim::Machine&)>& drive,
                         const std::function<std::optional<FirmwareSlotLog>(Io&)>& read) {
    auto platform = makeSimPlatform(machine.dump());
    std::string why;
    if (c.commit) {
        ASSERT_EQ(drive(platform->machine())->download(0, sim::testing::testImage("QLR4KAXA"), why),
                  0u);
        drive(platform->machine())->commit(2, false, why, sim::Activation::Reset);
    }
    Console console(*platform);
    Io io{*platform, console};
    const auto log = read(io);
    console.flush();
    EXPECT_EQ(platform->output(), "") << c.name;
    ASSERT_EQ(platform->machine().requests().size(), expected.empty() ? 0u : 1u) << c.name;
    if (!expected.empty()) {
        EXPECT_EQ(platform->machine().requests()[0].input, expected) << c.name;
    }
    ASSERT_EQ(log.has_value(), c.active != 0) << c.name;
    if (log) {
        EXPECT_EQ(log->activeSlot, c.active) << c.name;
        EXPECT_EQ(log->nextResetSlot, c.next) << c.name;
        EXPECT_EQ(log->revisions[1], c.commit ? L"QLR4KAXA" : L"QLR2KAXA") << c.name;
    }
}

}  // namespace velo::test
