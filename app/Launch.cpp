#include "app/Launch.h"

#include "app/CommandLine.h"
#include "app/Run.h"
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

    std::unique_ptr<Platform> platform;
    if (!commandLine.machineFile.empty()) {
        auto machine = sim::loadMachineFile(commandLine.machineFile, error);
        if (!machine) {
            hooks.writeStderr("velo: " + error + "\n");
            return EXIT_BAD_COMMAND_LINE;
        }
        platform = std::make_unique<sim::SimPlatform>(
            std::move(machine), sim::Echo{hooks.writeStdout, hooks.writeStderr});
    } else {
        platform = hooks.defaultPlatform();
    }
    return runVelo(*platform, commandLine.run);
}

}  // namespace velo
