// What both builds do between the program's entry point and the run: read the command line,
// choose the machine, and start the run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace velo {

// Exit status of a run that could not go on: a failure nothing in the run could handle, or a
// build whose Windows identifiers are wrong. Below 256, so that it reads the same on Linux,
// which keeps only the low 8 bits of a status (the sysexits value for an internal error).
inline constexpr int EXIT_INTERNAL_ERROR = 70;

struct LaunchHooks {
    std::function<std::unique_ptr<Platform>()> defaultPlatform;  // the machine without /machine
    std::function<void(std::string_view)> writeStdout;
    std::function<void(std::string_view)> writeStderr;
    // Whether a run on a simulated or replayed machine says so on standard error (velo.exe,
    // whose default is the real machine).
    bool announceSimulation = false;
};

// args: the arguments without the program name; argumentText: as typed. Returns the exit
// status: 0 (with /exitcode, the deployment status of the run), or 87 for a bad command line,
// machine file or recording (nothing is run then) and for a replay that departs from its
// recording, or EXIT_INTERNAL_ERROR, with a line on standard error, when the run ends on an
// exception.
int launch(const std::vector<std::wstring>& args, const std::wstring& argumentText,
           const LaunchHooks& hooks);

}  // namespace velo
