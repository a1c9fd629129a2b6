// The result document of /json: the run's facts and every disk's outcome, with the reason of a
// failure, for deployment tools that read results without parsing the log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/DiskRecord.h"
#include "core/Outcome.h"
#include "platform/Platform.h"
#include "report/Report.h"

namespace velo {

// "updated", "updated, restart needed to activate" or "failed", by return code.
std::string resultMeaning(std::int32_t code);
// "inbox", "rst" or "vroc": the driver stack that serves a disk of this kind.
std::string driverStackName(DriverKind kind);
// "inbox", "raid-member", "pass-through" or "non-raid".
std::string driverKindName(DriverKind kind);

// One target as the document tells it.
struct DocumentTarget {
    DiskRecord disk;
    bool inLog = false;        // the disk is in the result log, with its resultCode
    std::optional<int> image;  // the image it was given (or would be, for /list)
    TargetOutcome outcome;     // an update run's
    std::optional<Plan> plan;  // /list's
    std::string planReason;    // /list: why it would receive no image
};

// The run itself.
struct RunDescription {
    bool list = false;  // a /list run: targets carry plans, not outcomes
    std::string computerName;
    std::string toolVersion;
    std::wstring startTime;  // local, as the log writes it
    std::wstring endTime;
    std::optional<UniversalTime> startUtc;
    std::optional<UniversalTime> endUtc;
    std::wstring inputCommand;
    std::vector<std::wstring> switches;  // as given, lower case, without their files
    bool messageShown = false;
    std::string messageNotShown;  // why not: "silent", "no-visible-desktop", "list"
};

struct DocumentFacts {
    RunDescription run;
    std::optional<std::int32_t> returnCode;  // the run's; nothing for /list
    int exitStatus = 0;                      // what /exitcode gives
    std::optional<int> image;                // the image chosen, if any
    std::wstring imageRevision;              // the revision it installs
    std::vector<DocumentTarget> targets;
    UnreachedList unreached;
    bool verified = false;  // /verify: every target tells what its check after activation found
};

// The document, version 2 (UTF-8 JSON, "\n" line ends).
std::string buildResultDocument(const DocumentFacts& facts);

// "2026-12-07T12:47:38Z"; empty when the time is unknown.
std::string isoUtcText(const std::optional<UniversalTime>& time);
// Text as a drive pads it (blanks and NULs at the end), without the padding.
std::string withoutPadding(const std::wstring& text);

}  // namespace velo
