#include "report/ResultDocument.h"

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

std::string buildResultDocument(const ReportFacts& facts, std::int32_t returnCode,
                                std::optional<int> imageNumber, bool verified) {
    Document document;
    document["format"] = "velo-result";
    document["version"] = 1;
    document["startTime"] = toUtf8(facts.startTime);
    document["endTime"] = toUtf8(facts.endTime);
    document["inputCommand"] = toUtf8(facts.inputCommand);
    document["returnCode"] = returnCode;
    document["result"] = resultMeaning(returnCode);
    if (imageNumber) {
        document["image"] = {{"number", *imageNumber}, {"revision", toUtf8(facts.updatedRevision)}};
    } else {
        document["image"] = nullptr;
    }

    Document disks = Document::array();
    int number = 0;
    for (const DiskRecord& disk : facts.disks) {
        // A disk left alone for its revision, or for a damaged image, was given no image.
        const bool given =
            imageNumber && !(disk.failure && (disk.failure->step == FailedStep::Revision ||
                                              disk.failure->step == FailedStep::Image));
        Document entry;
        entry["number"] = ++number;
        entry["driverStack"] = driverStackName(disk.driverKind);
        entry["kind"] = driverKindName(disk.driverKind);
        entry["devicePath"] = toUtf8(disk.devicePath);
        entry["model"] = toUtf8(disk.modelNumber);
        entry["serial"] = toUtf8(disk.serialNumber);
        entry["revisionBefore"] = toUtf8(disk.firmwareRevision);
        entry["image"] = given ? Document(*imageNumber) : Document();
        entry["revisionGiven"] = given ? Document(toUtf8(facts.updatedRevision)) : Document();
        entry["resultCode"] = disk.resultCode;
        entry["result"] = resultMeaning(disk.resultCode);
        entry["failure"] = disk.failure && disk.resultCode != RETURN_SUCCESS &&
                                   disk.resultCode != RETURN_REBOOT_REQUIRED
                               ? failureOf(*disk.failure)
                               : Document();
        if (verified)
            entry["verification"] = verificationOf(disk.verification);
        disks.push_back(std::move(entry));
    }
    document["disks"] = std::move(disks);
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace velo
