// The entry routine's run: start banner, scan pass, image choice, update pass, report.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace velo {

struct RunOptions {
    bool silent = false;                 // no message box
    std::wstring logFilePath;            // empty: no result log
    std::wstring inputCommand;           // the arguments as typed
    std::wstring jsonFilePath;           // empty: no result document
    bool exitCodeFollowsResult = false;  // the exit status tells the return code (/exitcode)
    bool listOnly = false;               // scan and list the targets, update nothing (/list)
    bool verify = false;  // identify each updated disk again and compare its revision (/verify)
};

// The exit status that deployment tools read for a return code: 0 updated, 3010 updated but
// a restart is needed to activate, 1 failed or no disk.
inline constexpr int EXIT_UPDATED = 0;
inline constexpr int EXIT_RESTART_NEEDED = 3010;
inline constexpr int EXIT_FAILED = 1;
// Another run holds the machine-wide lock and this one did nothing (Windows' "another
// installation is already in progress", which deployment tools retry by themselves).
inline constexpr int EXIT_ANOTHER_RUN = 1618;
int deploymentExitStatus(std::int32_t returnCode);

// One whole run on the given machine. Returns 0, the outcome being told by the report; with
// exitCodeFollowsResult, the deployment exit status of the run's return code.
int runVelo(Platform& platform, const RunOptions& options);

}  // namespace velo
