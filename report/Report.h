// The result report at the end of every run: log text, message text, the run's return code,
// the result log file, the end banner and the message box.
#pragma once

#include <cstdint>
#include <string>

#include "core/DiskRecord.h"
#include "platform/Io.h"

namespace velo {

inline constexpr std::int32_t RETURN_SUCCESS = 0;
inline constexpr std::int32_t RETURN_REBOOT_REQUIRED = 1602;
inline constexpr std::int32_t RETURN_FAILED = 1;

// What the report prints, handed to it by the entry routine.
struct ReportFacts {
    DiskList disks;  // the update pass's targets, each with its resultCode
    std::wstring startTime;
    std::wstring endTime;          // set by reportResults
    std::wstring inputCommand;     // echoed after "Input Command : "
    std::wstring logFilePath;      // empty: no result log
    std::wstring updatedRevision;  // of the loaded image; empty when none was loaded
    std::wstring toolTitle;        // of the loaded image; empty when none was loaded
    bool silent = false;           // no message box
};

// The two texts of one report, built from the same facts.
struct ReportTexts {
    std::string logText;  // one byte per character, "\n" line ends
    std::wstring messageText;
    std::int32_t returnCode = 0;
};

// Builds the texts from the facts; pure, for the report and its tests.
ReportTexts buildReportTexts(const ReportFacts& facts);
// "VANTORA " followed by the tool title.
std::wstring makeMessageCaption(std::wstring_view toolTitle);
// Takes the end time into facts.endTime, writes the log (when a path is set), prints the end
// banner and shows the message box (unless silent). Returns the run's return code.
std::int32_t reportResults(Io& io, ReportFacts& facts);

}  // namespace velo
