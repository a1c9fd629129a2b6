#include "platform/Console.h"

#include <gtest/gtest.h>

#include "report/TimeString.h"
#include "tests/TestSupport.h"

namespace velo {
namespace {

class Output : public ::testing::Test {
protected:
    std::unique_ptr<sim::SimPlatform> platform = test::makeSimPlatform(test::EMPTY_MACHINE);
};

TEST_F(Output, FourChannelsKeepCallOrder) {
    {
        Console console(*platform);
        console.printWide(L"wide print %d\n", 1);
        console.narrow << "narrow stream" << lineEnd;
        console.printWide(L"wide print %ls\n", L"two");
        console.wide << L"wide stream " << 3 << lineEnd;
        console.printNarrow("narrow print %s %lu\n", "four", 4ul);
        console.narrow << "tail without line end";
    }
    EXPECT_EQ(platform->output(),
              "wide print 1\nnarrow stream\nwide print two\nwide stream 3\nnarrow print four 4\n"
              "tail without line end");
}

TEST_F(Output, HexValueThenDecimalAgain) {
    Console console(*platform);
    console.narrow << "0x" << Hex{0} << " " << 10 << " 0x" << Hex{0xFFFFFFFF} << " " << 10 << " 0x"
                   << Hex{3221225473u} << " " << -5 << lineEnd;
    console.wide << L"0x" << Hex{0xFFFFFFFF} << L" " << 1602 << lineEnd;
    EXPECT_EQ(platform->output(), "0x0 10 0xffffffff 10 0xc0000001 -5\n0xffffffff 1602\n");
}

TEST_F(Output, WideTextIsNotDropped) {
    Console console(*platform);
    console.wide << L"caf\u00e9 \u65e5\u672c" << lineEnd;
    console.narrow << "after" << lineEnd;
    console.printWide(L"%ls|\n", L"\u00e9");
    console.flush();
    EXPECT_EQ(platform->output(), "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\nafter\n\xC3\xA9|\n");
}

TEST_F(Output, LineEndFlushesAndPlainTextWaits) {
    Console console(*platform);
    console.wide << L"pending";
    EXPECT_EQ(platform->output(), "");
    console.wide << lineEnd;
    EXPECT_EQ(platform->output(), "pending\n");
}

TEST(TimeString, FixedTimesFromTheClock) {
    auto platform = test::makeSimPlatform(test::EMPTY_MACHINE);
    platform->setClock(LocalTime{2026, 12, 7, 13, 47, 38});
    EXPECT_EQ(makeTimeString(*platform), "07-12-2026(13:47:38)");
    platform->setClock(LocalTime{2027, 2, 1, 9, 5, 3});
    EXPECT_EQ(makeTimeString(*platform), "01-02-2027(09:05:03)");
    platform->setClock(LocalTime{2027, 1, 31, 0, 0, 0});
    EXPECT_EQ(makeTimeString(*platform), "31-01-2027(00:00:00)");
}

TEST(TimeString, UnreadableClockGivesZeros) {
    auto platform = test::makeSimPlatform(test::EMPTY_MACHINE);
    platform->setClock(std::nullopt, false);
    EXPECT_EQ(makeTimeString(*platform), "00-00-0000(00:00:00)");
}

TEST(TimeString, SystemClockHasTheShape) {
    auto platform = test::makeSimPlatform(test::EMPTY_MACHINE);
    platform->setClock(std::nullopt);
    const std::string text = makeTimeString(*platform);
    ASSERT_EQ(text.size(), 20u);
    EXPECT_EQ(text[2], '-');
    EXPECT_EQ(text[5], '-');
    EXPECT_EQ(text[10], '(');
    EXPECT_EQ(text[19], ')');
    EXPECT_NE(text, "00-00-0000(00:00:00)");
}

}  // namespace
}  // namespace velo
