#include "app/Run.h"

#include "app/ImageCatalogue.h"
#include "app/Passes.h"
#include "app/RunContext.h"
#include "platform/Text.h"
#include "platform/Console.h"
#include "report/Report.h"
#include "report/ResultDocument.h"
#include "report/TimeString.h"

namespace velo {

bool silentMode = false;

int deploymentExitStatus(std::int32_t returnCode) {
    if (returnCode == RETURN_SUCCESS)
        return EXIT_UPDATED;
    if (returnCode == RETURN_REBOOT_REQUIRED)
        return EXIT_RESTART_NEEDED;
    return EXIT_FAILED;
}

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
    silentMode = options.silent;

    context.startTime = widenBytes(makeTimeString(platform));
    console.wide << lineEnd << L" >> VELO Started " << lineEnd << lineEnd;

    DiskList scanTargets;
    runScanPass(io, scanPassScanner, scanTargets);
    std::optional<int> image;
    if (!scanTargets.empty()) {
        const std::wstring firstRevision = scanTargets.front().firmwareRevision;
        image = selectImageForRevision(firstRevision);
        if (image) {
            loadFirmwareImage(*image);
            runUpdatePass(io, context.scanner, context.disks, options.verify);
        }
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
    console.flush();
    if (!options.jsonFilePath.empty()) {
        // Like the log: replaced, and a file that cannot be written leaves the outcome as it is
        // but is named on standard error.
        const FileWriteResult written = platform.writeTextFile(
            options.jsonFilePath,
            buildResultDocument(facts, context.returnCode, image, options.verify));
        if (!written) {
            platform.writeErrorOutput("velo: the result document " +
                                      visibleText(options.jsonFilePath) +
                                      " cannot be written: " + written.failure + "\n");
        }
    }
    return options.exitCodeFollowsResult ? deploymentExitStatus(context.returnCode) : 0;
}

}  // namespace velo
