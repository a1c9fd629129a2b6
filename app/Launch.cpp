#include "app/Launch.h"

#include <exception>
#include <optional>
#include <iterator>
#include <utility>

#include "app/CommandLine.h"
#include "app/List.h"
#include "app/Run.h"
#include "platform/FileIdentity.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"

namespace velo {

namespace {

// The files a run reads or replaces must be distinct: a trace or log written over the machine
// file would destroy it, and one written over the other would leave neither. Empty: they are.
std::string sameFileNamedTwice(const CommandLine& commandLine) {
    const std::pair<std::wstring_view, const std::wstring*> files[] = {
        {SWITCH_MACHINE, &commandLine.machineFile}, {SWITCH_LOG, &commandLine.run.logFilePath},
        {SWITCH_TRACE, &commandLine.traceFile},     {SWITCH_JSON, &commandLine.run.jsonFilePath},
        {SWITCH_REPLAY, &commandLine.replayFile},
    };
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            const std::wstring& first = *files[i].second;
            const std::wstring& second = *files[j].second;
            if (!first.empty() && !second.empty() && namesSameFile(first, second)) {
                return toUtf8(files[i].first) + " and " + toUtf8(files[j].first) +
                       " name the same file: " + visibleText(second);
            }
        }
    }
    return {};
}

// The same rule by what the file system says: every output is claimed (the file as it is, or
// an empty one made for the check) and every input looked up, and two that are one file, by
// whatever path, are refused before anything is written. The files made for the check are
// removed again then; an output that cannot be made is left for the run to report, as before.
std::string sameFileByIdentity(const CommandLine& commandLine) {
    struct Named {
        std::wstring_view name;
        const std::wstring& path;
        bool output;
    };
    const Named files[] = {
        {SWITCH_MACHINE, commandLine.machineFile, false},
        {SWITCH_LOG, commandLine.run.logFilePath, true},
        {SWITCH_TRACE, commandLine.traceFile, true},
        {SWITCH_JSON, commandLine.run.jsonFilePath, true},
        {SWITCH_REPLAY, commandLine.replayFile, false},
    };
    std::vector<std::unique_ptr<OutputClaim>> claims;
    std::vector<std::optional<FileIdentity>> identities;
    for (const Named& file : files) {
        if (file.path.empty()) {
            identities.emplace_back();
        } else if (file.output) {
            claims.push_back(std::make_unique<OutputClaim>(file.path));
            identities.push_back(claims.back()->identity());
        } else {
            identities.push_back(existingFileIdentity(file.path));
        }
    }
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            if (identities[i] && identities[j] && *identities[i] == *identities[j]) {
                for (auto& claim : claims)
                    claim->removeCreated();
                return toUtf8(files[i].name) + " and " + toUtf8(files[j].name) +
                       " name the same file: " + visibleText(files[j].path);
            }
        }
    }
    return {};
}

int launchChecked(const std::vector<std::wstring>& args, const std::wstring& argumentText,
                  const LaunchHooks& hooks) {
    CommandLine commandLine;
    std::string error;
    if (!parseCommandLine(args, argumentText, commandLine, error)) {
        hooks.writeStderr("velo: " + error + "\n" + usageText(offersSimulation(hooks)));
        return EXIT_BAD_COMMAND_LINE;
    }
    if (commandLine.showUsage) {
        hooks.writeStdout(usageText(offersSimulation(hooks)));
        return 0;
    }
    if (error = sameFileNamedTwice(commandLine); !error.empty()) {
        hooks.writeStderr("velo: " + error + "\n");
        return EXIT_BAD_COMMAND_LINE;
    }

    // A switch whose stand-in this build does not carry: nothing can run as asked.
    const bool simulated = !commandLine.machineFile.empty();
    const bool replayed = !commandLine.replayFile.empty();
    if ((simulated && !hooks.simulatedPlatform) || (replayed && !hooks.playbackPlatform)) {
        const std::wstring_view name = simulated ? SWITCH_MACHINE : SWITCH_REPLAY;
        hooks.writeStderr("velo: " + toUtf8(name) +
                          " is not available: this build runs on real drives only\n");
        return EXIT_BAD_COMMAND_LINE;
    }

    std::unique_ptr<Platform> platform;
    std::unique_ptr<PlaybackPlatform> replay;
    if (simulated) {
        platform = hooks.simulatedPlatform(commandLine.machineFile, error);
        if (!platform) {
            hooks.writeStderr("velo: " + error + "\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    } else if (replayed) {
        replay = hooks.playbackPlatform(commandLine.replayFile, error);
        if (!replay) {
            hooks.writeStderr("velo: " + error + "\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }
    if (hooks.announceSimulation && (simulated || replayed)) {
        hooks.writeStderr(
            "velo: simulated run on " +
            visibleText(simulated ? commandLine.machineFile : commandLine.replayFile) +
            "; no device is touched\n");
    }
    if (!platform && !replay)
        platform = hooks.defaultPlatform();
    Platform& base = replay ? static_cast<Platform&>(*replay) : *platform;

    // One run at a time: a second one touches no drive and no file, since the outputs it names
    // may be the running one's.
    const RunLockResult lock = base.takeRunLock();
    if (lock.outcome == RunLockOutcome::HeldElsewhere) {
        hooks.writeStderr(
            "velo: another run of VELO is in progress on this machine; nothing "
            "was done\n");
        return commandLine.run.exitCodeFollowsResult ? EXIT_ANOTHER_RUN : EXIT_FAILED;
    }
    if (lock.outcome != RunLockOutcome::Taken) {
        hooks.writeStderr("velo: the run lock cannot be taken (system error " +
                          std::to_string(lock.error) + "); nothing was done\n");
        return EXIT_INTERNAL_ERROR;
    }

    if (error = sameFileByIdentity(commandLine); !error.empty()) {
        hooks.writeStderr("velo: " + error + "\n");
        return EXIT_BAD_COMMAND_LINE;
    }
    // The trace file is created before anything runs, so a path that cannot be written stops
    // the program like any other bad argument.
    std::unique_ptr<TraceRecorder> trace;
    if (!commandLine.traceFile.empty()) {
        trace = hooks.traceRecorder(commandLine.traceFile);
        if (!trace) {
            hooks.writeStderr("velo: " + visibleText(commandLine.traceFile) +
                              ": the trace file cannot be created\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }
    RunOptions options = commandLine.run;
    options.desktopVisible = hooks.desktopVisible;
    auto runOn = [&](Platform& target) {
        return options.listOnly ? listTargets(target, options) : runVelo(target, options);
    };

    int status = 0;
    try {
        if (trace) {
            const std::unique_ptr<Platform> tracing = trace->wrap(base);
            status = runOn(*tracing);
        } else {
            status = runOn(base);
        }
    } catch (const PlaybackDeparture&) {
        // Told below: finish() keeps the first departure.
    }
    if (trace) {
        // Like the log: the run's outcome stands, and whoever asked for the trace is told.
        if (auto failure = trace->close()) {
            hooks.writeStderr("velo: the trace " + visibleText(commandLine.traceFile) +
                              " cannot be written: " + *failure + "\n");
        }
    }
    if (replay) {
        if (auto departure = replay->finish()) {
            // A departure quotes what the recording holds.
            hooks.writeStderr(
                "velo: the run departs from its recording: " + visibleText(*departure) + "\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }
    return status;
}

}  // namespace

int launch(const std::vector<std::wstring>& args, const std::wstring& argumentText,
           const LaunchHooks& hooks) {
    try {
        return launchChecked(args, argumentText, hooks);
    } catch (const std::exception& error) {
        // Nothing in the run throws on purpose; if something does, say so rather than abort.
        hooks.writeStderr("velo: internal error: " + visibleText(error.what()) + "\n");
    } catch (...) {
        hooks.writeStderr("velo: internal error\n");
    }
    return EXIT_INTERNAL_ERROR;
}

}  // namespace velo
