// Reading the command line: /s, /log FILE, /json FILE, /list, /exitcode, /machine FILE,
// /replay FILE, /trace FILE, /?.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/Run.h"

namespace velo {

inline constexpr int EXIT_BAD_COMMAND_LINE = 87;

// The switches, as a command line names them (letter case aside).
inline constexpr std::wstring_view SWITCH_SILENT = L"/s";
inline constexpr std::wstring_view SWITCH_USAGE = L"/?";
inline constexpr std::wstring_view SWITCH_LOG = L"/log";
inline constexpr std::wstring_view SWITCH_JSON = L"/json";
inline constexpr std::wstring_view SWITCH_EXIT_CODE = L"/exitcode";
inline constexpr std::wstring_view SWITCH_LIST = L"/list";
inline constexpr std::wstring_view SWITCH_VERIFY = L"/verify";
inline constexpr std::wstring_view SWITCH_RESUME = L"/resume";
inline constexpr std::wstring_view SWITCH_MACHINE = L"/machine";
inline constexpr std::wstring_view SWITCH_REPLAY = L"/replay";
inline constexpr std::wstring_view SWITCH_TRACE = L"/trace";
inline constexpr std::array<std::wstring_view, 11> SWITCHES = {
    SWITCH_SILENT, SWITCH_USAGE,  SWITCH_LOG,     SWITCH_JSON,   SWITCH_EXIT_CODE, SWITCH_LIST,
    SWITCH_VERIFY, SWITCH_RESUME, SWITCH_MACHINE, SWITCH_REPLAY, SWITCH_TRACE,
};

// Whether any of the arguments is this switch, even on a command line that is otherwise wrong.
bool hasSwitch(const std::vector<std::wstring>& args, std::wstring_view name);

struct CommandLine {
    RunOptions run;
    std::wstring machineFile;  // empty: the build's default machine
    std::wstring traceFile;    // empty: no trace
    std::wstring replayFile;   // empty: no replay of a recorded trace
    bool showUsage = false;
};

// Switches are case-insensitive. args excludes the program name; argumentText is the
// argument text as typed. False with a message in error for a bad command line.
bool parseCommandLine(const std::vector<std::wstring>& args, const std::wstring& argumentText,
                      CommandLine& parsed, std::string& error);

// The usage text; without simulation, of a program that runs on real drives only (no /machine,
// no /replay).
std::string usageText(bool simulation = true);

}  // namespace velo
