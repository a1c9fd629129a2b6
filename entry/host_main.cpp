// Entry point of the host build: VELO on a simulated Windows storage stack.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/Launch.h"
#include "entry/Backends.h"
#include "platform/Text.h"

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
    velo::offerSimulation(hooks);
    velo::offerTracing(hooks);
    return velo::launch(args, argumentText, hooks);
}
