// Entry point of velo.exe, the product: VELO on the machine's real drives. It offers /trace, so
// that a field problem can be recorded and replayed on a desk, and no simulated machine.
#include <memory>

#include "entry/Backends.h"
#include "entry/WindowsProgram.h"
#include "platform/win32/Win32Platform.h"

// A GUI-subsystem program: the runtime calls wmain without a console.
int wmain(int, wchar_t**) {
    return velo::runWindowsProgram([](velo::LaunchHooks& hooks) {
        hooks.defaultPlatform = []() -> std::unique_ptr<velo::Platform> {
            return std::make_unique<velo::Win32Platform>();
        };
        velo::offerTracing(hooks);
    });
}
