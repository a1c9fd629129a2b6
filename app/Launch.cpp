#include "app/Launch.h"

#include <exception>
#include <iterator>
#include <utility>

#include "app/CommandLine.h"
#include "app/List.h"
#include "app/Run.h"
#include "platform/LocalFiles.h"
#include "platform/ReplayPlatform.h"
#include "platform/Text.h"
#include "platform/TracingPlatform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace velo {

namespace {

// The files a run reads or replaces must be distinct: a trace or log written over the machine
// file would destroy it, and one written over the other would leave neither. Empty: they are.
std::string sameFileNamedTwice(const CommandLine& commandLine) {
    const std::pair<const char*, const std::wstring*> files[] = {
        {"/machine", &commandLine.machineFile}, {"/log", &commandLine.run.logFilePath},
        {"/trace", &commandLine.traceFile},     {"/json", &commandLine.run.jsonFilePath},
        {"/replay", &commandLine.replayFile},
    };
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            const std::wstring& first = *files[i].second;
            const std::wstring& second = *files[j].second;
            if (!first.empty() && !second.empty() && namesSameFile(first, second)) {
                return std::string(files[i].first) + " and " + files[j].first +
                       " name the same file: " + visibleText(second);
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
        hooks.writeStderr("velo: " + error + "\n" + usageText());
        return EXIT_BAD_COMMAND_LINE;
    }
    if (commandLine.showUsage) {
        hooks.writeStdout(usageText());
        return 0;
    }
    if (error = sameFileNamedTwice(commandLine); !error.empty()) {
        hooks.writeStderr("velo: " + error + "\n");
        return EXIT_BAD_COMMAND_LINE;
    }

    std::unique_ptr<sim::Machine> machine;
    if (!commandLine.machineFile.empty()) {
        machine = sim::loadMachineFile(commandLine.machineFile, error);
        if (!machine) {
            hooks.writeStderr("velo: " + error + "\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }
    // The trace file is created before anything runs, so a path that cannot be written stops
    // the program like any other bad argument.
    std::unique_ptr<TraceFile> trace;
    if (!commandLine.traceFile.empty()) {
        trace = TraceFile::create(commandLine.traceFile);
        if (!trace) {
            hooks.writeStderr("velo: " + visibleText(commandLine.traceFile) +
                              ": the trace file cannot be created\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }

    std::unique_ptr<ReplayPlatform> replay;
    if (!commandLine.replayFile.empty()) {
        replay = ReplayPlatform::fromFile(commandLine.replayFile, error,
                                          ReplayEcho{hooks.writeStdout, hooks.writeStderr});
        if (!replay) {
            hooks.writeStderr("velo: " + error + "\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }
    if (hooks.announceSimulation && (machine || replay)) {
        hooks.writeStderr("velo: simulated run on " +
                          visibleText(machine ? commandLine.machineFile : commandLine.replayFile) +
                          "; no device is touched\n");
    }

    std::unique_ptr<Platform> platform;
    if (machine) {
        platform = std::make_unique<sim::SimPlatform>(
            std::move(machine), sim::Echo{hooks.writeStdout, hooks.writeStderr});
    } else if (!replay) {
        platform = hooks.defaultPlatform();
    }
    Platform& base = replay ? static_cast<Platform&>(*replay) : *platform;
    auto runOn = [&](Platform& target) {
        return commandLine.run.listOnly ? listTargets(target, commandLine.run)
                                        : runVelo(target, commandLine.run);
    };

    int status = 0;
    try {
        if (trace) {
            TracingPlatform tracing(base, trace->sink());
            status = runOn(tracing);
        } else {
            status = runOn(base);
        }
    } catch (const ReplayDeparture&) {
        // Told below: finish() keeps the first departure.
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
