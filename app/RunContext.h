// The run's options and results, owned by the entry routine for the whole run.
#pragma once

#include <cstdint>
#include <string>

#include "app/CommandLine.h"
#include "app/Passes.h"
#include "core/DiskRecord.h"

namespace velo {

struct RunContext {
    DiskList disks;       // the targets of the update pass, each with its resultCode
    DiskScanner scanner;  // the scanner that the update pass runs on
    std::wstring silentSwitch{SWITCH_SILENT};
    std::wstring logSwitch{SWITCH_LOG};
    std::wstring logFilePath;   // empty: no result log
    std::wstring inputCommand;  // echoed after "Input Command : "
    std::wstring startTime;
    std::wstring endTime;
    std::int32_t returnCode = 0;
};

// Process-wide: while false the report shows its message box.
extern bool silentMode;

}  // namespace velo
