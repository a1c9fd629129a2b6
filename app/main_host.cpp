// Entry point of the host build: VELO on a simulated Windows storage stack.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Launch.h"
#include "platform/Text.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace {

void writeTo(std::FILE* stream, std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    std::wstring argumentText;
    for (int i = 1; i < argc; ++i) {
        args.push_back(velo::fromUtf8(argv[i]));
        if (i > 1)
            argumentText += L' ';
        argumentText += args.back();
    }

    velo::LaunchHooks hooks;
    hooks.writeStdout = [](std::string_view bytes) { writeTo(stdout, bytes); };
    hooks.writeStderr = [](std::string_view bytes) { writeTo(stderr, bytes); };
    hooks.defaultPlatform = [&hooks]() -> std::unique_ptr<velo::Platform> {
        return std::make_unique<velo::sim::SimPlatform>(
            velo::sim::loadDefaultMachine(), velo::sim::Echo{hooks.writeStdout, hooks.writeStderr});
    };
    return velo::launch(args, argumentText, hooks);
}
