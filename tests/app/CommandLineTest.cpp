#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace velo {
namespace {

bool parse(std::vector<std::wstring> args, CommandLine& parsed, std::string& error) {
    return parseCommandLine(args, L"as typed", parsed, error);
}

TEST(CommandLine, NoSwitchesKeepEveryDefault) {
    CommandLine parsed;
    std::string error;
    ASSERT_TRUE(parseCommandLine({}, L"", parsed, error));
    EXPECT_FALSE(parsed.run.silent);
    EXPECT_TRUE(parsed.run.logFilePath.empty());
    EXPECT_TRUE(parsed.run.inputCommand.empty());
    EXPECT_TRUE(parsed.machineFile.empty());
    EXPECT_TRUE(parsed.traceFile.empty());
    EXPECT_FALSE(parsed.showUsage);
    EXPECT_FALSE(parsed.run.verify);
}

TEST(CommandLine, SwitchesInAnyCaseAndOrder) {
    CommandLine parsed;
    std::string error;
    ASSERT_TRUE(parse({L"/LoG", L"C:\\logs\\Run.LOG", L"/S", L"/Machine", L"m.json", L"/TRACE",
                       L"t.jsonl", L"/Verify"},
                      parsed, error))
        << error;
    EXPECT_TRUE(parsed.run.silent);
    EXPECT_EQ(parsed.run.logFilePath, L"C:\\logs\\Run.LOG");  // values keep their case
    EXPECT_EQ(parsed.machineFile, L"m.json");
    EXPECT_EQ(parsed.traceFile, L"t.jsonl");
    EXPECT_TRUE(parsed.run.verify);
    EXPECT_EQ(parsed.run.inputCommand, L"as typed");
}

// The document names the switches given: lower case, in their order, without their files.
TEST(CommandLine, SwitchesAreNamedAsTheDocumentTellsThem) {
    const struct {
        std::vector<std::wstring> args;
        std::vector<std::wstring> switches;
    } cases[] = {
        {{L"/List", L"/JSON", L"R.json"}, {L"/list", L"/json"}},
        {{L"/S", L"/log", L"/x/l.log", L"/Resume", L"/exitCode", L"/json", L"j"},
         {L"/s", L"/log", L"/resume", L"/exitcode", L"/json"}},
    };
    for (const auto& c : cases) {
        CommandLine parsed;
        std::string error;
        ASSERT_TRUE(parse(c.args, parsed, error)) << error;
        EXPECT_EQ(parsed.run.switches, c.switches);
    }
    CommandLine listed;
    std::string error;
    ASSERT_TRUE(parse({L"/list", L"/json", L"j"}, listed, error)) << error;
    EXPECT_TRUE(listed.run.listOnly);
    EXPECT_EQ(listed.run.jsonFilePath, L"j");
}

TEST(CommandLine, UsageSwitch) {
    CommandLine parsed;
    std::string error;
    ASSERT_TRUE(parse({L"/?"}, parsed, error));
    EXPECT_TRUE(parsed.showUsage);
}

TEST(CommandLine, BadCommandLinesAreRefusedWithAReason) {
    const std::vector<std::vector<std::wstring>> bad = {
        {L"/x"},
        {L"s"},
        {L"/s", L"extra"},
        {L"/log"},
        {L"/log", L""},
        {L"/log", L"/S"},
        {L"/machine"},
        {L"/trace", L"/log", L"f"},
        {L"-s"},
        {L"/s", L"/S"},
        {L"/log", L"a", L"/LOG", L"b"},
        {L"/json"},
        {L"/replay", L"/list"},
        {L"/machine", L"m", L"/replay", L"r"},
    };
    for (const auto& args : bad) {
        CommandLine parsed;
        std::string error;
        EXPECT_FALSE(parse(args, parsed, error)) << args[0].size();
        EXPECT_FALSE(error.empty());
    }
}

TEST(CommandLine, UsageNamesEverySwitch) {
    const std::string usage = usageText();
    for (const char* name : {"/s", "/log FILE", "/machine FILE", "/trace FILE", "/json FILE",
                             "/replay FILE", "/list", "/exitcode", "/verify", "/?"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace velo
