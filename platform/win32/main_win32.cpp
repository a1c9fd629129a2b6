// Entry point of velo.exe. It reads the command line from the process itself rather than from
// its arguments, and starts the launcher with the real machine as the default platform.
#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "app/Launch.h"
#include "platform/Text.h"
#include "platform/win32/SdkChecks.h"
#include "platform/win32/SystemDlls.h"
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

bool hasHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// A GUI-subsystem program starts without a console, so from an interactive command prompt its
// lines would go nowhere. When standard output or error was not redirected, the program joins
// the console of the process that started it and writes there. The console handles it opens
// are the process's standard handles from then on and live as long as the process. False when
// a stream has nowhere to go.
bool joinParentConsole() {
    if (hasHandle(STD_OUTPUT_HANDLE) && hasHandle(STD_ERROR_HANDLE))
        return true;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        if (hasHandle(which))
            continue;
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console == INVALID_HANDLE_VALUE)
            return false;
        SetStdHandle(which, console);
    }
    return true;
}

bool isSwitch(const std::vector<std::wstring>& args, std::wstring_view name) {
    for (const std::wstring& arg : args) {
        if (arg.size() == name.size() &&
            std::equal(arg.begin(), arg.end(), name.begin(), [](wchar_t a, wchar_t b) {
                return (a >= L'A' && a <= L'Z' ? a + 32 : a) == b;
            })) {
            return true;
        }
    }
    return false;
}

int run() {
    const bool visible = joinParentConsole();
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
    // With no console to show them, a usage error and the usage text go to a message box
    // (unless the run is silent); the run's own lines are then shown by its result box.
    std::string unseen;
    hooks.writeStderr = [&](std::string_view bytes) {
        if (!visible)
            unseen.append(bytes);
        writeStderr(bytes);
    };
    hooks.announceSimulation = true;
    const int status = velo::launch(args, velo::argumentTextOf(commandLine), hooks);
    if (!visible && !isSwitch(args, L"/s")) {
        if (status == velo::EXIT_BAD_COMMAND_LINE && !unseen.empty()) {
            MessageBoxW(nullptr, velo::fromUtf8(unseen).c_str(), L"VELO", MB_OK | MB_ICONERROR);
        } else if (isSwitch(args, L"/?")) {
            MessageBoxW(nullptr, velo::fromUtf8(velo::usageText()).c_str(), L"VELO", MB_OK);
        }
    }
    return status;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL by name. Should it fail, the run goes on: the image check
    // then reports that the image cannot be checked, and no drive is touched.
    velo::useSystemDllsOnly();
    // An exception that escaped would end the process through the runtime's abort, which can
    // stop an unattended run on an error dialog; it ends here with a status instead.
    try {
        return run();
    } catch (const std::exception& error) {
        writeStderr("velo: internal error: " + velo::visibleText(error.what()) + "\n");
    } catch (...) {
        writeStderr("velo: internal error\n");
    }
    return velo::EXIT_INTERNAL_ERROR;
}
