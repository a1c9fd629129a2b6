// The entry routine's run: start banner, scan pass, image choice, update pass, report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "report/ResultDocument.h"

namespace velo {

struct RunOptions {
    bool silent = false;                 // no message box
    std::wstring logFilePath;            // empty: no result log
    std::wstring inputCommand;           // the arguments as typed
    std::wstring jsonFilePath;           // empty: no result document
    bool exitCodeFollowsResult = false;  // the exit status tells the return code (/exitcode)
    bool listOnly = false;               // scan and list the targets, update nothing (/list)
    bool verify = false;  // identify each updated disk again and compare its revision (/verify)
    bool resume = false;  // finish what an earlier run left: current firmware is left alone
    // Whether anyone can see a message box: not in a service or session 0, where a run behaves
    // as with /s.
    bool desktopVisible = true;
    std::vector<std::wstring> switches;  // the switches given, lower case, for the document
};

// The exit statuses that deployment tools read with /exitcode: 0 every target runs the firmware
// it should, 3010 something waits for a restart or a power-off, 1 something failed or was
// left alone (more in app/Outcomes.h).
inline constexpr int EXIT_UPDATED = 0;
inline constexpr int EXIT_RESTART_NEEDED = 3010;
inline constexpr int EXIT_FAILED = 1;
// Another run holds the machine-wide lock and this one did nothing (Windows' "another
// installation is already in progress", which deployment tools retry by themselves).
inline constexpr int EXIT_ANOTHER_RUN = 1618;

// One whole run on the given machine. Returns 0, the outcome being told by the report; with
// exitCodeFollowsResult, the deployment status of its targets' outcomes.
int runVelo(Platform& platform, const RunOptions& options);

// What the result document says of a run: the computer, the version, the times as the log has
// them and the switches given.
RunDescription describeRun(Platform& platform, const RunOptions& options,
                           const std::wstring& startTime, const std::wstring& endTime);
// Writes the result document; a file that cannot be written is named on standard error.
void writeResultDocument(Platform& platform, const std::wstring& path, const std::string& text);

}  // namespace velo
