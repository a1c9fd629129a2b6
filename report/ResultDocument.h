// The result document of /json: the run's facts and every disk's outcome, with the reason of a
// failure, for deployment tools that read results without parsing the log.
#pragma once

#include <optional>
#include <string>

#include "core/DiskRecord.h"
#include "report/Report.h"

namespace velo {

// "updated", "updated, restart needed to activate" or "failed", by return code.
std::string resultMeaning(std::int32_t code);
// "inbox", "rst" or "vroc": the driver stack that serves a disk of this kind.
std::string driverStackName(DriverKind kind);
// "inbox", "raid-member", "pass-through" or "non-raid".
std::string driverKindName(DriverKind kind);

// The document (UTF-8 JSON, "\n" line ends) for a reported run: facts as the report used them
// (endTime set), the run's return code, and the number of the image loaded, if any. With
// verified (the run's /verify), every disk tells what its check after activation found.
std::string buildResultDocument(const ReportFacts& facts, std::int32_t returnCode,
                                std::optional<int> imageNumber, bool verified = false);

}  // namespace velo
