#include "entry/Backends.h"

#include <memory>

#include "sim/Machine.h"
#include "sim/SimPlatform.h"
#include "trace/ReplayPlatform.h"

namespace velo {

void offerSimulation(LaunchHooks& hooks) {
    const sim::Echo echo{hooks.writeStdout, hooks.writeStderr};
    hooks.defaultPlatform = [echo]() -> std::unique_ptr<Platform> {
        return std::make_unique<sim::SimPlatform>(sim::loadDefaultMachine(), echo);
    };
    hooks.simulatedPlatform = [echo](const std::wstring& file,
                                     std::string& error) -> std::unique_ptr<Platform> {
        auto machine = sim::loadMachineFile(file, error);
        if (!machine)
            return nullptr;
        return std::make_unique<sim::SimPlatform>(std::move(machine), echo);
    };
    hooks.playbackPlatform = [echo](const std::wstring& file,
                                    std::string& error) -> std::unique_ptr<PlaybackPlatform> {
        return ReplayPlatform::fromFile(file, error, ReplayEcho{echo.out, echo.err});
    };
}

}  // namespace velo
