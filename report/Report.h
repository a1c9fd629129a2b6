// The result report at the end of every run: log text, message text, the run's return code,
// the result log file, the end banner and the message box.
#pragma once

#include <cstdint>
#include <string>

#include "app/RunContext.h"
#include "report/Console.h"

namespace velo {

inline constexpr std::int32_t RETURN_SUCCESS = 0;
inline constexpr std::int32_t RETURN_REBOOT_REQUIRED = 1602;
inline constexpr std::int32_t RETURN_FAILED = 1;

// The two texts of one report, built from the same facts.
struct ReportTexts {
    std::string logText;  // one byte per character, "\n" line ends
    std::wstring messageText;
    std::int32_t returnCode = 0;
};

// Builds the texts for the disks of the context; pure, for the report and its tests.
ReportTexts buildReportTexts(const RunContext& context);
// "VANTORA " followed by the tool title of the loaded image.
std::wstring makeMessageCaption();
// Takes the end time, writes the log (when a path is set), prints the end banner and shows
// the message box (unless silent). Returns the run's return code.
std::int32_t reportResults(Io& io, RunContext& context);

}  // namespace velo
