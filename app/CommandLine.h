// Reading the command line: /s, /log FILE, /json FILE, /list, /exitcode, /machine FILE,
// /replay FILE, /trace FILE, /?.
#pragma once

#include <string>
#include <vector>

#include "app/Run.h"

namespace velo {

inline constexpr int EXIT_BAD_COMMAND_LINE = 87;

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

std::string usageText();

}  // namespace velo
