#include "platform/win32/Process.h"

#include <memory>

#include "platform/win32/SystemText.h"

#include <windows.h>
#include <shellapi.h>

namespace velo {

namespace {

bool hasHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

// The console handles opened here are the process's standard handles from then on and live as
// long as the process.
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

bool readProcessCommandLine(std::vector<std::wstring>& args, std::wstring& argumentText) {
    const wchar_t* commandLine = GetCommandLineW();
    if (commandLine == nullptr)
        return false;
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
    argumentText = argumentTextOf(commandLine);
    return true;
}

bool desktopVisible() {
    HWINSTA station = GetProcessWindowStation();
    if (station == nullptr)
        return false;
    USEROBJECTFLAGS flags{};
    if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void showProgramBox(const std::wstring& text, bool error) {
    MessageBoxW(nullptr, text.c_str(), L"VELO", MB_OK | (error ? MB_ICONERROR : 0));
}

}  // namespace velo
