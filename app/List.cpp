#include "app/List.h"

#include <algorithm>

#include "app/FirmwareState.h"
#include "app/ImageCatalogue.h"
#include "app/Passes.h"
#include "platform/Console.h"
#include "platform/Text.h"
#include "report/ResultDocument.h"
#include "report/TimeString.h"

namespace velo {

namespace {

// Why a target takes no image when its revision selects none.
std::string noGroupReason(const std::wstring& revision) {
    if (auto installed = imageInstalling(revision)) {
        return "already at revision " + printableAscii(revision) + ", which image " +
               std::to_string(*installed) + " installs";
    }
    return "revision " + printableAscii(revision) + " is in no image group";
}

std::string driverLine(DriverKind kind) {
    switch (kind) {
        case DriverKind::Inbox:
            return "Windows inbox NVMe driver";
        case DriverKind::RstRaid:
        case DriverKind::RstPassThrough:
            return "Intel RST driver";
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return "Intel VROC driver";
        case DriverKind::None:
            break;
    }
    return "none";
}

}  // namespace

std::vector<PlannedImage> planImages(const DiskList& targets, bool resume) {
    std::vector<PlannedImage> plan;
    if (targets.empty())
        return plan;
    const std::optional<int> loaded = chooseImage(targets, resume);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const DiskRecord& target = targets[i];
        const std::wstring& revision = target.firmwareRevision;
        if (resume && target.firmwareState == FirmwareState::Current) {
            plan.push_back({std::nullopt, "already at revision " + printableAscii(revision) +
                                              ", the current firmware"});
            continue;
        }
        if (resume && target.firmwareState == FirmwareState::Pending) {
            plan.push_back({std::nullopt, "revision " + printableAscii(target.waitingRevision) +
                                              " waits for the drive's next reset"});
            continue;
        }
        if (!loaded) {
            plan.push_back({std::nullopt, i == 0 || resume
                                              ? noGroupReason(revision)
                                              : "the first disk's revision selects no image"});
            continue;
        }
        // The update pass's own rule; the reasons below only tell why a target is left out.
        const std::optional<int> own = selectImageForRevision(revision);
        if (takesImage(*loaded, revision)) {
            plan.push_back({loaded, {}});
        } else if (own) {
            plan.push_back({std::nullopt, "revision " + printableAscii(revision) +
                                              " selects image " + std::to_string(*own) +
                                              ", another than image " + std::to_string(*loaded) +
                                              (resume ? " of this run" : " of the first disk")});
        } else {
            plan.push_back({std::nullopt, noGroupReason(revision)});
        }
    }
    return plan;
}

int listTargets(Platform& platform, const RunOptions& options) {
    Console console(platform);
    Io io{platform, console};
    platform.startUp();
    // The clock is read only for the result document.
    const bool documented = !options.jsonFilePath.empty();
    const std::optional<UniversalTime> startUtc =
        documented ? platform.universalTime() : std::nullopt;
    const std::wstring startTime = documented ? widenBytes(makeTimeString(platform)) : L"";

    DiskScanner scanner;
    DiskList targets;
    runScanPass(io, scanner, targets);
    // What waits in each drive's next-reset slot is told whether or not /resume would act on it.
    for (DiskRecord& target : targets)
        checkFirmwareState(io, target);
    std::vector<PlannedImage> plan = planImages(targets, options.resume);
    // The image is checked as a run checks it before sending it; a damaged one goes to no disk.
    const auto taking = std::find_if(plan.begin(), plan.end(), [](const PlannedImage& planned) {
        return planned.image.has_value();
    });
    std::optional<int> chosen;
    if (taking != plan.end()) {
        chosen = *taking->image;
        if (auto damage = imageDamage(platform, *chosen, embeddedImage(*chosen))) {
            for (PlannedImage& planned : plan) {
                if (planned.image)
                    planned = {std::nullopt, "firmware " + damage->finding};
            }
        }
    }

    std::string text = "\n >> VELO List \n\n";
    std::size_t updating = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const DiskRecord& disk = targets[i];
        text += "[Disk #" + std::to_string(i + 1) + "]\n";
        text += "Driver : " + driverLine(disk.driverKind) + "\n";
        text += "Kind : " + driverKindName(disk.driverKind) + "\n";
        text += "Device Path : " + printableAscii(disk.devicePath) + "\n";
        text += "Model Number : " + printableAscii(disk.modelNumber) + "\n";
        text += "Serial Number : " + printableAscii(disk.serialNumber) + "\n";
        text += "Current Firmware Version : " + printableAscii(disk.firmwareRevision) + "\n";
        if (disk.firmwareState == FirmwareState::Pending) {
            text += "Waiting Firmware Version : " + printableAscii(disk.waitingRevision) +
                    ", at the drive's next reset\n";
        }
        if (plan[i].image) {
            ++updating;
            text += "Image : " + std::to_string(*plan[i].image) + ", installs " +
                    printableAscii(installedRevision(*plan[i].image)) + "\n\n";
        } else {
            text += "Image : none, " + plan[i].reason + "\n\n";
        }
    }
    if (targets.empty())
        text += "[No Disk]\n\n";
    text += " >> VELO List Ended (" + std::to_string(targets.size()) + " disks, " +
            std::to_string(updating) + " to update)\n\n";

    console.write(text);
    console.flush();
    if (!options.logFilePath.empty()) {
        const FileWriteResult written = platform.writeTextFile(options.logFilePath, text);
        if (!written) {
            platform.writeErrorOutput("velo: the log " + visibleText(options.logFilePath) +
                                      " cannot be written: " + written.failure + "\n");
        }
    }
    const int status = updating > 0 ? EXIT_UPDATED : EXIT_FAILED;
    if (documented) {
        DocumentFacts document;
        document.run =
            describeRun(platform, options, startTime, widenBytes(makeTimeString(platform)));
        document.run.startUtc = startUtc;
        document.run.endUtc = platform.universalTime();
        document.run.messageNotShown = "list";
        document.exitStatus = status;
        document.image = updating > 0 ? chosen : std::nullopt;
        document.imageRevision = document.image ? installedRevision(*document.image) : L"";
        for (std::size_t i = 0; i < targets.size(); ++i) {
            DocumentTarget target;
            target.disk = targets[i];
            target.image = plan[i].image;
            target.planReason = plan[i].reason;
            if (plan[i].image) {
                target.plan = Plan::WouldUpdate;
            } else if (targets[i].firmwareState == FirmwareState::Pending) {
                target.plan = Plan::Pending;
            } else if (imageInstalling(targets[i].firmwareRevision)) {
                target.plan = Plan::Current;
            } else {
                target.plan = Plan::LeftAlone;
            }
            document.targets.push_back(std::move(target));
        }
        document.unreached = scanner.unreached;
        writeResultDocument(platform, options.jsonFilePath, buildResultDocument(document));
    }
    return options.exitCodeFollowsResult ? status : 0;
}

}  // namespace velo
