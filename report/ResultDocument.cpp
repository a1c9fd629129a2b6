#include "report/ResultDocument.h"

#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/Text.h"

namespace velo {

namespace {

using Document = nlohmann::ordered_json;

Document failureOf(const UpdateFailure& failure) {
    Document entry;
    entry["step"] = failedStepName(failure.step);
    entry["chunk"] = failure.chunk == 0 ? Document() : Document(failure.chunk);
    entry["chunks"] = failure.chunks == 0 ? Document() : Document(failure.chunks);
    entry["systemError"] = failure.systemError ? Document(*failure.systemError) : Document();
    const std::string source = statusSourceName(failure.source);
    const bool hasStatus =
        failure.source != StatusSource::None && failure.source != StatusSource::Slot;
    entry["statusSource"] = source.empty() ? Document() : Document(source);
    entry["status"] = hasStatus ? Document(failure.status) : Document();
    entry["meaning"] = failure.meaning;
    entry["description"] = describeFailure(failure);
    return entry;
}

Document verificationOf(const std::optional<Verification>& verification) {
    if (!verification)
        return Document();
    Document entry;
    switch (verification->outcome) {
        case VerifyOutcome::Verified:
            entry["outcome"] = "verified";
            break;
        case VerifyOutcome::RevisionDiffers:
            entry["outcome"] = "revision-differs";
            break;
        case VerifyOutcome::PendingRestart:
            entry["outcome"] = "pending-restart";
            break;
        case VerifyOutcome::NotIdentified:
            entry["outcome"] = "not-identified";
            break;
    }
    entry["runningRevision"] = verification->runningRevision.empty()
                                   ? Document()
                                   : Document(toUtf8(verification->runningRevision));
    return entry;
}

}  // namespace

std::string resultMeaning(std::int32_t code) {
    if (code == RETURN_SUCCESS)
        return "updated";
    if (code == RETURN_REBOOT_REQUIRED)
        return "updated, restart needed to activate";
    return "failed";
}

std::string driverStackName(DriverKind kind) {
    switch (kind) {
        case DriverKind::Inbox:
            return "inbox";
        case DriverKind::RstRaid:
        case DriverKind::RstPassThrough:
            return "rst";
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return "vroc";
        case DriverKind::None:
            break;
    }
    return "none";
}

std::string driverKindName(DriverKind kind) {
    switch (kind) {
        case DriverKind::Inbox:
            return "inbox";
        case DriverKind::RstRaid:
        case DriverKind::VrocRaidMember:
            return "raid-member";
        case DriverKind::RstPassThrough:
            return "pass-through";
        case DriverKind::VrocNonRaid:
            return "non-raid";
        case DriverKind::None:
            break;
    }
    return "none";
}

namespace {

Document nullable(bool present, Document value) {
    return present ? std::move(value) : Document();
}

std::string outcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Updated:
            return "updated";
        case Outcome::Pending:
            return "pending";
        case Outcome::Current:
            return "current";
        case Outcome::LeftAlone:
            return "left-alone";
        case Outcome::Failed:
            break;
    }
    return "failed";
}

std::string planName(Plan plan) {
    switch (plan) {
        case Plan::WouldUpdate:
            return "would-update";
        case Plan::Current:
            return "current";
        case Plan::Pending:
            return "pending";
        case Plan::LeftAlone:
            break;
    }
    return "left-alone";
}

Document pendingUntilOf(PendingUntil until) {
    switch (until) {
        case PendingUntil::Restart:
            return "restart";
        case PendingUntil::PowerOff:
            return "power-off";
        case PendingUntil::Reset:
            return "reset";
        case PendingUntil::None:
            break;
    }
    return Document();
}

Document leftAloneOf(LeftAloneReason reason) {
    switch (reason) {
        case LeftAloneReason::AnotherImageGroup:
            return "another-image-group";
        case LeftAloneReason::NoImageForRevision:
            return "no-image-for-revision";
        case LeftAloneReason::None:
            break;
    }
    return Document();
}

Document addressOf(const DiskRecord& disk) {
    switch (disk.driverKind) {
        case DriverKind::Inbox:
            return {
                {"deviceNumber", disk.deviceNumber ? Document(*disk.deviceNumber) : Document()}};
        case DriverKind::RstRaid:
        case DriverKind::RstPassThrough:
            return {{"pathId",
                     disk.targetAddress >= 0 ? Document(disk.targetAddress & 0xFF) : Document()}};
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return {{"port", disk.vrocPort >= 0 ? Document(disk.vrocPort) : Document()},
                    {"diskId", disk.vrocDiskId}};
        case DriverKind::None:
            break;
    }
    return Document::object();
}

// Where the disk's requests went: the SCSI port for the VROC driver, the disk's own path
// otherwise.
std::string requestPathOf(const DiskRecord& disk) {
    const bool vroc =
        disk.driverKind == DriverKind::VrocRaidMember || disk.driverKind == DriverKind::VrocNonRaid;
    if (vroc && disk.vrocPort >= 0)
        return "\\\\.\\Scsi" + std::to_string(disk.vrocPort) + ":";
    return toUtf8(disk.devicePath);
}

Document targetOf(const DocumentTarget& target, int number, const DocumentFacts& facts) {
    const DiskRecord& disk = target.disk;
    const bool list = facts.run.list;
    Document entry;
    entry["number"] = number;
    entry["stack"] = driverStackName(disk.driverKind);
    entry["kind"] = driverKindName(disk.driverKind);
    entry["address"] = addressOf(disk);
    entry["devicePath"] = requestPathOf(disk);
    entry["model"] = withoutPadding(disk.modelNumber);
    entry["serial"] = withoutPadding(disk.serialNumber);
    entry["revisionBefore"] = toUtf8(disk.firmwareRevision);
    entry["image"] = nullable(target.image.has_value(), target.image.value_or(0));
    entry["revisionGiven"] = nullable(target.image.has_value(), toUtf8(facts.imageRevision));
    entry["resultCode"] = nullable(target.inLog && !list, disk.resultCode);
    const bool pending =
        list ? target.plan == Plan::Pending : target.outcome.outcome == Outcome::Pending;
    PendingUntil until = target.outcome.pendingUntil;
    if (list && pending)
        until = PendingUntil::Reset;
    entry["outcome"] = nullable(!list, outcomeName(target.outcome.outcome));
    entry["pendingUntil"] = pending ? pendingUntilOf(until) : Document();
    entry["waitingRevision"] =
        nullable(disk.firmwareState == FirmwareState::Pending, toUtf8(disk.waitingRevision));
    entry["leftAlone"] = !list && target.outcome.outcome == Outcome::LeftAlone
                             ? leftAloneOf(target.outcome.leftAlone)
                             : Document();
    entry["failure"] = !list && target.outcome.outcome == Outcome::Failed && disk.failure
                           ? failureOf(*disk.failure)
                           : Document();
    if (facts.verified && !list)
        entry["verification"] = verificationOf(disk.verification);
    entry["plan"] = list && target.plan ? Document(planName(*target.plan)) : Document();
    entry["planReason"] = nullable(list && !target.planReason.empty(), target.planReason);
    return entry;
}

std::string unreachedReasonName(UnreachedReason reason) {
    switch (reason) {
        case UnreachedReason::OpenFailed:
            return "open-failed";
        case UnreachedReason::IdentifyFailed:
            return "identify-failed";
        case UnreachedReason::NoDrive:
            break;
    }
    return "no-drive";
}

constexpr std::uint32_t SYSTEM_ERROR_ACCESS_DENIED_CODE = 5;

Document unreachedOf(const UnreachedDisk& disk) {
    Document entry;
    entry["stack"] = driverStackName(disk.driverKind);
    entry["devicePath"] = toUtf8(disk.devicePath);
    entry["pathId"] = nullable(disk.targetAddress >= 0, disk.targetAddress & 0xFF);
    entry["reason"] = unreachedReasonName(disk.reason);
    entry["systemError"] = nullable(disk.systemError.has_value(), disk.systemError.value_or(0));
    entry["advice"] = disk.systemError == SYSTEM_ERROR_ACCESS_DENIED_CODE
                          ? Document("run VELO as administrator")
                          : Document();
    return entry;
}

Document localTimeOf(const std::wstring& text) {
    return nullable(!text.empty(), toUtf8(text));
}

Document utcTimeOf(const std::optional<UniversalTime>& time) {
    return nullable(time.has_value(), isoUtcText(time));
}

}  // namespace

std::string isoUtcText(const std::optional<UniversalTime>& time) {
    if (!time)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time->year, time->month,
                  time->day, time->hour, time->minute, time->second);
    return text;
}

std::string withoutPadding(const std::wstring& text) {
    // A blank and a NUL, with the length given: as a C string the literal would end at its NUL.
    constexpr std::wstring_view padding(L" \0", 2);
    const std::size_t end = text.find_last_not_of(padding);
    return toUtf8(end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1));
}

std::string buildResultDocument(const DocumentFacts& facts) {
    const RunDescription& run = facts.run;
    Document document;
    document["format"] = "velo-result";
    document["version"] = 2;
    Document runEntry;
    runEntry["mode"] = run.list ? "list" : "update";
    runEntry["host"] = run.computerName;
    runEntry["toolVersion"] = run.toolVersion;
    runEntry["startTime"] = localTimeOf(run.startTime);
    runEntry["startTimeUtc"] = utcTimeOf(run.startUtc);
    runEntry["endTime"] = localTimeOf(run.endTime);
    runEntry["endTimeUtc"] = utcTimeOf(run.endUtc);
    runEntry["inputCommand"] = toUtf8(run.inputCommand);
    Document switches = Document::array();
    for (const std::wstring& name : run.switches)
        switches.push_back(toUtf8(name));
    runEntry["switches"] = std::move(switches);
    runEntry["messageBox"] = {
        {"shown", run.messageShown},
        {"reason", nullable(!run.messageNotShown.empty(), run.messageNotShown)}};
    document["run"] = std::move(runEntry);
    document["returnCode"] = nullable(facts.returnCode.has_value(), facts.returnCode.value_or(0));
    document["result"] =
        nullable(facts.returnCode.has_value(), resultMeaning(facts.returnCode.value_or(0)));
    document["exitStatus"] = facts.exitStatus;
    if (facts.image) {
        document["image"] = {{"number", *facts.image}, {"revision", toUtf8(facts.imageRevision)}};
    } else {
        document["image"] = nullptr;
    }
    Document targets = Document::array();
    int number = 0;
    for (const DocumentTarget& target : facts.targets)
        targets.push_back(targetOf(target, ++number, facts));
    document["targets"] = std::move(targets);
    Document unreached = Document::array();
    for (const UnreachedDisk& disk : facts.unreached)
        unreached.push_back(unreachedOf(disk));
    document["unreached"] = std::move(unreached);
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace velo
