// What every program does between its entry point and the run: read the command line, choose
// the machine among those its entry point offers, and start the run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/Recording.h"

namespace velo {

// Exit status of a run that could not go on: a failure nothing in the run could handle, or a
// build whose Windows identifiers are wrong. Below 256, so that it reads the same on Linux,
// which keeps only the low 8 bits of a status (the sysexits value for an internal error).
inline constexpr int EXIT_INTERNAL_ERROR = 70;

// What an entry point offers the launcher: the machine it runs on, the stand-ins its build
// allows, and its output channels. A stand-in left empty is a switch this build refuses.
struct LaunchHooks {
    // The machine of a run without /machine or /replay.
    std::function<std::unique_ptr<Platform>()> defaultPlatform;
    // /machine FILE: the simulated machine FILE describes; nothing, with error naming the file
    // and what is wrong, when it cannot be used.
    std::function<std::unique_ptr<Platform>(const std::wstring& file, std::string& error)>
        simulatedPlatform;
    // /replay FILE: the machine recorded in FILE, likewise.
    std::function<std::unique_ptr<PlaybackPlatform>(const std::wstring& file, std::string& error)>
        playbackPlatform;
    // /trace FILE: a trace written to FILE; nothing when the file cannot be created.
    std::function<std::unique_ptr<TraceRecorder>(const std::wstring& file)> traceRecorder;
    std::function<void(std::string_view)> writeStdout;
    std::function<void(std::string_view)> writeStderr;
    // Whether a run on a simulated or replayed machine says so on standard error (a Windows
    // program, whose users expect real drives).
    bool announceSimulation = false;
    // Whether a message box can be seen: not in a service or session 0, where a run behaves as
    // with /s (the entry point asks the system).
    bool desktopVisible = true;
};

// Whether the hooks offer the simulated stand-ins (/machine and /replay).
inline bool offersSimulation(const LaunchHooks& hooks) {
    return static_cast<bool>(hooks.simulatedPlatform) && static_cast<bool>(hooks.playbackPlatform);
}

// args: the arguments without the program name; argumentText: as typed. Returns the exit
// status: 0 (with /exitcode, the deployment status of the run), or 87 for a bad command line,
// machine file or recording (nothing is run then) and for a replay that departs from its
// recording, or EXIT_INTERNAL_ERROR, with a line on standard error, when the run ends on an
// exception.
int launch(const std::vector<std::wstring>& args, const std::wstring& argumentText,
           const LaunchHooks& hooks);

}  // namespace velo
