// The entry routine's run: start banner, scan pass, image choice, update pass, report.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace velo {

struct RunOptions {
    bool silent = false;        // no message box
    std::wstring logFilePath;   // empty: no result log
    std::wstring inputCommand;  // the arguments as typed
};

// One whole run on the given machine. Always returns 0: the outcome is told by the report.
int runVelo(Platform& platform, const RunOptions& options);

}  // namespace velo
