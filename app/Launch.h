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

struct LaunchHooks {
    std::function<std::unique_ptr<Platform>()> defaultPlatform;  // the machine without /machine
    std::function<void(std::string_view)> writeStdout;
    std::function<void(std::string_view)> writeStderr;
};

// args: the arguments without the program name; argumentText: as typed. Returns the exit
// status: 0, or 87 for a bad command line or machine file (nothing is run then).
int launch(const std::vector<std::wstring>& args, const std::wstring& argumentText,
           const LaunchHooks& hooks);

}  // namespace velo
