#include "app/Launch.h"

#include "app/CommandLine.h"
#include "app/Run.h"
#include "platform/Text.h"
#include "platform/TracingPlatform.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace velo {

int launch(const std::vector<std::wstring>& args, const std::wstring& argumentText,
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
            hooks.writeStderr("velo: " + toUtf8(commandLine.traceFile) +
                              ": the trace file cannot be created\n");
            return EXIT_BAD_COMMAND_LINE;
        }
    }

    std::unique_ptr<Platform> platform;
    if (machine) {
        platform = std::make_unique<sim::SimPlatform>(
            std::move(machine), sim::Echo{hooks.writeStdout, hooks.writeStderr});
    } else {
        platform = hooks.defaultPlatform();
    }
    if (trace) {
        TracingPlatform tracing(*platform, trace->sink());
        return runVelo(tracing, commandLine.run);
    }
    return runVelo(*platform, commandLine.run);
}

}  // namespace velo
