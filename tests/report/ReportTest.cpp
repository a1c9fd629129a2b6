#include "report/Report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "platform/Console.h"
#include "tests/TestSupport.h"

namespace velo {
namespace {

DiskRecord disk(std::wstring serial, std::int32_t resultCode) {
    DiskRecord record = makeCandidate(L"\\\\.\\PHYSICALDRIVE0", DriverKind::Inbox);
    record.modelNumber = L"VANTORA QX7B2 1TB";
    record.serialNumber = std::move(serial);
    record.firmwareRevision = L"QLR2KAXA";
    record.resultCode = resultCode;
    return record;
}

std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        platform = test::makeSimPlatform(test::EMPTY_MACHINE);
        console = std::make_unique<Console>(*platform);
        facts.startTime = L"07-12-2026(13:40:00)";
        facts.inputCommand = L"/s /log out.log";
    }
    std::int32_t report() {
        Io io{*platform, *console};
        auto code = reportResults(io, facts);
        console->flush();
        return code;
    }

    std::unique_ptr<sim::SimPlatform> platform;
    std::unique_ptr<Console> console;
    ReportFacts facts;
};

TEST_F(Report, TwoDiskLogLineByLine) {
    facts.updatedRevision = L"QLR4KAXA";
    facts.toolTitle = L"VELO_QX7B2_V1.0.2_QLR4KAXA";
    facts.disks = {disk(L"S1", 0), disk(L"S2", 1602)};
    test::ScratchDir dir;
    facts.logFilePath = test::widePath(dir.file("result.log"));
    ASSERT_EQ(report(), 1602);

    const std::vector<std::string> expected = {
        "Start Time : 07-12-2026(13:40:00)",
        "End Time : 07-12-2026(13:47:38)",
        "Input Command : /s /log out.log",
        "",
        "[Disk #1]",
        "Model Number : VANTORA QX7B2 1TB",
        "Serial Number : S1",
        "Current Firmware Version : QLR2KAXA",
        "Updated Firmware Version : QLR4KAXA",
        "Return Code : 0",
        "Result Details : Updated firmware successfully.",
        "",
        "[Disk #2]",
        "Model Number : VANTORA QX7B2 1TB",
        "Serial Number : S2",
        "Current Firmware Version : QLR2KAXA",
        "Updated Firmware Version : QLR4KAXA",
        "Return Code : 1602",
        "Result Details : Downloaded firmware successfully, but firmware activation requires "
        "reboot.",
        "",
        "[Final Result]",
        "Return Code : 1602",
        "Result Details : Downloaded firmware successfully, but firmware activation requires "
        "reboot.",
    };
    const std::string log = test::readBytes(dir.file("result.log"));
    EXPECT_NE(log.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(crlfLines(log), expected);
    EXPECT_EQ(facts.endTime, L"07-12-2026(13:47:38)");

    ASSERT_EQ(platform->messages().size(), 1u);
    EXPECT_EQ(platform->messages()[0].caption, L"VANTORA VELO_QX7B2_V1.0.2_QLR4KAXA");
    EXPECT_EQ(platform->messages()[0].text,
              L"Updated Firmware Version : QLR4KAXA\n"
              L"\n[Disk #1]\nSerial Number : S1\nCurrent Firmware Version : QLR2KAXA\n"
              L"Updated Firmware Version : QLR4KAXA\nUpdated firmware successfully.\n"
              L"\n[Disk #2]\nSerial Number : S2\nCurrent Firmware Version : QLR2KAXA\n"
              L"Updated Firmware Version : QLR4KAXA\nDownloaded firmware successfully, \n"
              L"but firmware activation requires reboot.\n"
              L"\n[Final Result]\nResult Details : Downloaded firmware successfully, \n"
              L"but firmware activation requires reboot.\n");
}

TEST_F(Report, NoDiskWithoutImage) {
    EXPECT_EQ(report(), 1);
    const ReportTexts texts = buildReportTexts(facts);
    EXPECT_EQ(texts.logText,
              "Start Time : 07-12-2026(13:40:00)\n"
              "End Time : 07-12-2026(13:47:38)\n"
              "Input Command : /s /log out.log\n"
              "[No Disk]\n"
              "Updated Firmware Version : \n"
              "Return Code : 1\n"
              "Result Details : No disks are available for download.\n"
              "\n[Final Result]\n"
              "Return Code : 1\n"
              "Result Details : Unable to update firmware.\n");
    ASSERT_EQ(platform->messages().size(), 1u);
    EXPECT_EQ(platform->messages()[0].caption, L"VANTORA ");
    EXPECT_EQ(platform->messages()[0].text,
              L"Updated Firmware Version : \n[No Disk]\nNo disks are available for download.\n"
              L"\n[Final Result]\nUnable to update firmware.\n");
    EXPECT_EQ(platform->output(), "\n >> VELO Ended (Return Code : 1)\n\n");
}

TEST_F(Report, CodesFoldWorstFirstWhateverTheOrder) {
    struct Case {
        std::vector<std::int32_t> codes;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        {{0}, 0},          {{0, 0}, 0},    {{1602}, 1602},          {{0, 1602}, 1602},
        {{1602, 0}, 1602}, {{1602, 3}, 1}, {{3, 1602}, 1},          {{1, 0}, 1},
        {{0, 5}, 1},       {{-1}, 1},      {{1602, 1602, 0}, 1602}, {{0, 1602, 5, 0}, 1},
    };
    for (const Case& c : cases) {
        facts.disks.clear();
        for (auto code : c.codes)
            facts.disks.push_back(disk(L"S", code));
        EXPECT_EQ(buildReportTexts(facts).returnCode, c.expected);
    }
}

TEST_F(Report, NegativeDiskCodeIsPrintedSignedAndFails) {
    facts.disks = {disk(L"S", -1)};
    const std::string log = buildReportTexts(facts).logText;
    EXPECT_NE(log.find("Return Code : -1\nResult Details : Unable to update firmware.\n"),
              std::string::npos);
    EXPECT_NE(log.find("[Final Result]\nReturn Code : 1\n"), std::string::npos);
}

TEST_F(Report, DriveTextsWithNulAreCutInTheMessageOnly) {
    DiskRecord record = disk(std::wstring(L"AB\0CD", 5), 0);
    record.firmwareRevision = std::wstring(L"QL\0R2KAXA", 9);
    facts.disks = {record};
    const ReportTexts texts = buildReportTexts(facts);
    EXPECT_NE(texts.logText.find(std::string("Serial Number : AB\0CD\n", 22)), std::string::npos);
    EXPECT_NE(texts.logText.find(std::string("Current Firmware Version : QL\0R2KAXA\n", 37)),
              std::string::npos);
    EXPECT_NE(texts.messageText.find(L"Serial Number : AB\nCurrent Firmware Version : QL\n"),
              std::wstring::npos);
    // The final result still reaches the message box.
    EXPECT_EQ(texts.messageText.find(L'\0'), std::wstring::npos);
    EXPECT_NE(texts.messageText.find(L"[Final Result]\nUpdated firmware successfully.\n"),
              std::wstring::npos);
}

TEST_F(Report, WideTextsAreCutToTheirLowByteInTheLog) {
    DiskRecord record = disk(L"S\u0141", 0);  // U+0141 has low byte 0x41, 'A'
    facts.disks = {record};
    EXPECT_NE(buildReportTexts(facts).logText.find("Serial Number : SA\n"), std::string::npos);
}

TEST_F(Report, ExistingLogIsReplaced) {
    test::ScratchDir dir;
    {
        std::ofstream old(dir.file("result.log"), std::ios::binary);
        old << std::string(10000, 'x');
    }
    facts.logFilePath = test::widePath(dir.file("result.log"));
    report();
    const std::string log = test::readBytes(dir.file("result.log"));
    EXPECT_EQ(log.find('x'), std::string::npos);
    EXPECT_EQ(log.rfind("Start Time : ", 0), 0u);
}

TEST_F(Report, UnwritableLogIsSkippedAndTheRestFollows) {
    test::ScratchDir dir;
    facts.logFilePath = test::widePath(dir.file("no-such-folder/result.log"));
    EXPECT_EQ(report(), 1);
    EXPECT_EQ(platform->output(), "\n >> VELO Ended (Return Code : 1)\n\n");
    EXPECT_EQ(platform->messages().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no-such-folder")));
}

TEST_F(Report, SilentRunShowsNoMessageBox) {
    facts.silent = true;
    EXPECT_EQ(report(), 1);
    EXPECT_TRUE(platform->messages().empty());
    EXPECT_EQ(platform->output(), "\n >> VELO Ended (Return Code : 1)\n\n");
}

TEST_F(Report, NoLogPathWritesNoFile) {
    test::ScratchDir dir;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.file(""));
    report();
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("")));
}

}  // namespace
}  // namespace velo
