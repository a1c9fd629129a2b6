// Entry point of velo-sim.exe, a Windows program built for the tests and never shipped: velo.exe's
// Windows program (start-up, DLL loading, the system's digest, files, console) on the simulated
// storage stack, so that every example machine runs on it under wine. Without /machine it runs
// on the embedded example machine.
#include "entry/Backends.h"
#include "entry/WindowsProgram.h"

int wmain(int, wchar_t**) {
    return velo::runWindowsProgram([](velo::LaunchHooks& hooks) {
        velo::offerSimulation(hooks);
        velo::offerTracing(hooks);
    });
}
