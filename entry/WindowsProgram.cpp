#include "entry/WindowsProgram.h"

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "platform/Text.h"
#include "platform/win32/Process.h"
#include "platform/win32/SdkChecks.h"
#include "platform/win32/SystemDlls.h"
#include "platform/win32/Win32Platform.h"

namespace velo {

namespace {

void writeStderr(std::string_view text) {
    writeStandardStream(StandardStream::Error, text);
}

// Refuses to touch any device when the build's interface classes or property keys are not
// the system's: the run would read the wrong devices' properties.
bool identifiersMatchSdk() {
    auto differing = sdkIdentifierMismatches();
    if (differing.empty())
        return true;
    std::string message = "velo: this build's Windows identifiers differ from the SDK's:";
    for (const auto& name : differing)
        message += " " + name;
    writeStderr(message + "\n");
    return false;
}

int run(const std::function<void(LaunchHooks&)>& offer) {
    const bool visible = joinParentConsole();
    if (!identifiersMatchSdk())
        return EXIT_INTERNAL_ERROR;

    std::vector<std::wstring> args;
    std::wstring argumentText;
    if (!readProcessCommandLine(args, argumentText)) {
        writeStderr("velo: the command line cannot be read\n");
        return EXIT_BAD_COMMAND_LINE;
    }

    LaunchHooks hooks;
    hooks.writeStdout = [](std::string_view bytes) {
        writeStandardStream(StandardStream::Output, bytes);
    };
    // With no console to show them, a usage error and the usage text go to a message box
    // (unless the run is silent); the run's own lines are then shown by its result box.
    std::string unseen;
    hooks.writeStderr = [&](std::string_view bytes) {
        if (!visible)
            unseen.append(bytes);
        writeStderr(bytes);
    };
    hooks.announceSimulation = true;
    hooks.desktopVisible = desktopVisible();
    offer(hooks);
    const int status = launch(args, argumentText, hooks);
    // Nobody sees a box without a visible desktop: standard error has the text already.
    if (!visible && hooks.desktopVisible && !hasSwitch(args, SWITCH_SILENT)) {
        if (status == EXIT_BAD_COMMAND_LINE && !unseen.empty()) {
            showProgramBox(fromUtf8(unseen), true);
        } else if (hasSwitch(args, SWITCH_USAGE)) {
            showProgramBox(fromUtf8(usageText(offersSimulation(hooks))), false);
        }
    }
    return status;
}

}  // namespace

int runWindowsProgram(const std::function<void(LaunchHooks&)>& offer) {
    // Before anything can load a DLL by name. Should it fail, the run goes on: the image check
    // then reports that the image cannot be checked, and no drive is touched.
    useSystemDllsOnly();
    try {
        return run(offer);
    } catch (const std::exception& error) {
        writeStderr("velo: internal error: " + visibleText(error.what()) + "\n");
    } catch (...) {
        writeStderr("velo: internal error\n");
    }
    return EXIT_INTERNAL_ERROR;
}

}  // namespace velo
