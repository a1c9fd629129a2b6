#include "app/Run.h"

#include "app/FirmwareState.h"
#include "app/ImageCatalogue.h"
#include "app/Outcomes.h"
#include "app/Passes.h"
#include "app/RunContext.h"
#include "platform/Text.h"
#include "platform/Console.h"
#include "report/Report.h"
#include "report/ResultDocument.h"
#include "report/TimeString.h"

#include "VeloVersion.h"

namespace velo {

bool silentMode = false;

namespace {

// /resume without an image to load: the targets are reported as they are found, each current,
// pending or left alone; nothing is sent.
void reportFoundTargets(Io& io, DiskList& targets) {
    bool allCurrent = true;
    for (DiskRecord& target : targets) {
        if (target.firmwareState != FirmwareState::Unchecked) {
            printCurrentTarget(io, target);
            target.resultCode = target.firmwareState == FirmwareState::Current
                                    ? RETURN_SUCCESS
                                    : RETURN_REBOOT_REQUIRED;
            continue;
        }
        allCurrent = false;
        io.console.narrow << "  [ERROR] Firmware revision "
                          << printableAscii(target.firmwareRevision)
                          << " is not updated by any image; the disk was left unchanged." << lineEnd
                          << lineEnd;
        target.resultCode = RETURN_FAILED;
        target.failure = leftAloneFailure(target.firmwareRevision);
    }
    if (allCurrent && !targets.empty()) {
        io.console.narrow << "  [INFO] Every drive runs, or waits to run, the current firmware."
                          << lineEnd << lineEnd;
    }
}

std::string messageNotShown(const RunOptions& options) {
    if (options.silent)
        return "silent";
    if (!options.desktopVisible)
        return "no-visible-desktop";
    return {};
}

}  // namespace

int runVelo(Platform& platform, const RunOptions& options) {
    Console console(platform);
    Io io{platform, console};

    // A failed start-up is told and the run goes on as after a success.
    switch (platform.startUp()) {
        case StartupStatus::ModuleHandleFailed:
            console.printWide(L"Fatal Error: GetModuleHandle failed\n");
            break;
        case StartupStatus::FrameworkFailed:
            console.printWide(L"Fatal Error: MFC initialization failed\n");
            break;
        case StartupStatus::Ok:
            break;
    }

    DiskScanner scanPassScanner;
    RunContext context;
    context.logFilePath = options.logFilePath;
    context.inputCommand = options.inputCommand;
    // Where no one can see a message box (a service, session 0), none is shown.
    silentMode = options.silent || !options.desktopVisible;

    const std::optional<UniversalTime> startUtc = platform.universalTime();
    context.startTime = widenBytes(makeTimeString(platform));
    console.wide << lineEnd << L" >> VELO Started " << lineEnd << lineEnd;

    DiskList scanTargets;
    runScanPass(io, scanPassScanner, scanTargets);
    if (options.resume) {
        for (DiskRecord& target : scanTargets)
            checkFirmwareState(io, target);
    }
    const std::optional<int> image = chooseImage(scanTargets, options.resume);
    if (image) {
        loadFirmwareImage(*image);
        runUpdatePass(io, context.scanner, context.disks,
                      {.verify = options.verify, .resume = options.resume});
    } else if (options.resume) {
        reportFoundTargets(io, scanTargets);
        context.disks = scanTargets;
    }

    ReportFacts facts{.disks = context.disks,
                      .startTime = context.startTime,
                      .endTime = {},
                      .inputCommand = context.inputCommand,
                      .logFilePath = context.logFilePath,
                      .updatedRevision = updatedFirmwareRevision,
                      .toolTitle = toolTitle,
                      .silent = silentMode};
    context.returnCode = reportResults(io, facts);
    context.endTime = facts.endTime;
    const std::optional<UniversalTime> endUtc = platform.universalTime();
    console.flush();

    // The document and the deployment status tell every target found: the update pass's, or
    // the scan pass's when no update pass ran.
    const bool updated = image.has_value() || options.resume;
    const DiskList& reported = updated ? context.disks : scanTargets;
    const UnreachedList& unreached = image ? context.scanner.unreached : scanPassScanner.unreached;
    std::vector<TargetOutcome> outcomes;
    for (const DiskRecord& target : reported)
        outcomes.push_back(updated ? updatedOutcome(target) : untouchedOutcome(target));
    const int status = deploymentStatus(outcomes, reported, unreached, options.verify);

    if (!options.jsonFilePath.empty()) {
        DocumentFacts document;
        document.run = describeRun(platform, options, context.startTime, context.endTime);
        document.run.startUtc = startUtc;
        document.run.endUtc = endUtc;
        document.run.messageShown = !silentMode;
        document.run.messageNotShown = messageNotShown(options);
        document.returnCode = context.returnCode;
        document.exitStatus = status;
        document.image = image;
        document.imageRevision = updatedFirmwareRevision;
        for (std::size_t i = 0; i < reported.size(); ++i) {
            DocumentTarget target;
            target.disk = reported[i];
            target.inLog = updated;
            target.outcome = outcomes[i];
            const bool given =
                image &&
                (outcomes[i].outcome == Outcome::Updated ||
                 outcomes[i].outcome == Outcome::Pending ||
                 outcomes[i].outcome == Outcome::Failed) &&
                reported[i].firmwareState == FirmwareState::Unchecked &&
                !(reported[i].failure && reported[i].failure->step == FailedStep::Image);
            if (given)
                target.image = image;
            document.targets.push_back(std::move(target));
        }
        document.unreached = unreached;
        document.verified = options.verify;
        writeResultDocument(platform, options.jsonFilePath, buildResultDocument(document));
    }
    return options.exitCodeFollowsResult ? status : 0;
}

RunDescription describeRun(Platform& platform, const RunOptions& options,
                           const std::wstring& startTime, const std::wstring& endTime) {
    RunDescription run;
    run.list = options.listOnly;
    run.computerName = platform.computerName();
    run.toolVersion = VELO_VERSION;
    run.startTime = startTime;
    run.endTime = endTime;
    run.inputCommand = options.inputCommand;
    run.switches = options.switches;
    return run;
}

void writeResultDocument(Platform& platform, const std::wstring& path, const std::string& text) {
    // Like the log: replaced, and a file that cannot be written leaves the outcome as it is but
    // is named on standard error.
    const FileWriteResult written = platform.writeTextFile(path, text);
    if (!written) {
        platform.writeErrorOutput("velo: the result document " + visibleText(path) +
                                  " cannot be written: " + written.failure + "\n");
    }
}

}  // namespace velo
