// Entry point of velo.exe. It reads the command line from the process itself rather than from
// its arguments, and starts the launcher with the real machine as the default platform.
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "app/Launch.h"
#include "platform/win32/SdkChecks.h"
#include "platform/win32/SystemText.h"
#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <shellapi.h>

namespace {

void writeStderr(std::string_view text) {
    velo::writeStandardStream(velo::StandardStream::Error, text);
}

// Refuses to touch any device when the build's interface classes or property keys are not
// the system's: the run would read the wrong devices' properties.
bool identifiersMatchSdk() {
    auto differing = velo::sdkIdentifierMismatches();
    if (differing.empty())
        return true;
    std::string message = "velo: this build's Windows identifiers differ from the SDK's:";
    for (const auto& name : differing)
        message += " " + name;
    writeStderr(message + "\n");
    return false;
}

// The arguments without the program name, split as the system splits them.
bool splitArguments(const wchar_t* commandLine, std::vector<std::wstring>& args) {
    struct LocalFreer {
        void operator()(wchar_t** block) const { LocalFree(block); }
    };
    int count = 0;
    // Owned at once: copying the arguments may throw, and the block is freed on that path too.
    std::unique_ptr<wchar_t*, LocalFreer> argv(CommandLineToArgvW(commandLine, &count));
    if (!argv)
        return false;
    for (int i = 1; i < count; ++i)
        args.emplace_back(argv.get()[i]);
    return true;
}

int run() {
    if (!identifiersMatchSdk())
        return velo::EXIT_INTERNAL_ERROR;

    const wchar_t* commandLine = GetCommandLineW();
    std::vector<std::wstring> args;
    if (commandLine == nullptr || !splitArguments(commandLine, args)) {
        writeStderr("velo: the command line cannot be read\n");
        return velo::EXIT_BAD_COMMAND_LINE;
    }

    velo::LaunchHooks hooks;
    hooks.defaultPlatform = []() -> std::unique_ptr<velo::Platform> {
        return std::make_unique<velo::Win32Platform>();
    };
    hooks.writeStdout = [](std::string_view bytes) {
        velo::writeStandardStream(velo::StandardStream::Output, bytes);
    };
    hooks.writeStderr = writeStderr;
    return velo::launch(args, velo::argumentTextOf(commandLine), hooks);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // An exception that escaped would end the process through the runtime's abort, which can
    // stop an unattended run on an error dialog; it ends here with a status instead.
    try {
        return run();
    } catch (const std::exception& error) {
        writeStderr(std::string("velo: internal error: ") + error.what() + "\n");
    } catch (...) {
        writeStderr("velo: internal error\n");
    }
    return velo::EXIT_INTERNAL_ERROR;
}
