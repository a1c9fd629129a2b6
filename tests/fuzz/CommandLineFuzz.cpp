// The command line: the input is the arguments in UTF-8, each ended by a zero byte.
#include "FuzzHarness.h"
#include "app/CommandLine.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::wstring> args;
    std::wstring argumentText;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        args.push_back(fromUtf8(bytes.substr(start, end - start)));
        argumentText += (args.size() > 1 ? L" " : L"") + args.back();
        start = end + 1;
    }
    CommandLine parsed;
    std::string error;
    const bool ok = parseCommandLine(args, argumentText, parsed, error);
    VELO_FUZZ_CHECK(ok == error.empty());
    VELO_FUZZ_CHECK(visibleText(error) == error);  // no control character of an argument shown
    if (ok) {
        VELO_FUZZ_CHECK(parsed.run.inputCommand == argumentText);
        // A file switch takes the next argument whole, and it is never empty.
        for (const std::wstring* value :
             {&parsed.run.logFilePath, &parsed.machineFile, &parsed.traceFile}) {
            VELO_FUZZ_CHECK(value->empty() ||
                            std::find(args.begin(), args.end(), *value) != args.end());
        }
    }
    return 0;
}
