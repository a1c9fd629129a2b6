#include "app/CommandLine.h"

#include <set>

#include "platform/Text.h"

namespace velo {

namespace {

bool isSwitchName(const std::wstring& arg) {
    const std::wstring name = lowerAscii(arg);
    return name == L"/s" || name == L"/?" || name == L"/log" || name == L"/machine" ||
           name == L"/trace";
}

}  // namespace

bool parseCommandLine(const std::vector<std::wstring>& args, const std::wstring& argumentText,
                      CommandLine& parsed, std::string& error) {
    parsed = CommandLine{};
    parsed.run.inputCommand = argumentText;
    std::set<std::wstring> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring name = lowerAscii(args[i]);
        if (isSwitchName(args[i]) && !seen.insert(name).second) {
            // Which of two values was meant cannot be known; neither is taken.
            error = "switch " + toUtf8(args[i]) + " is given more than once";
            return false;
        }
        std::wstring* value = nullptr;
        if (name == L"/s") {
            parsed.run.silent = true;
        } else if (name == L"/?") {
            parsed.showUsage = true;
        } else if (name == L"/log") {
            value = &parsed.run.logFilePath;
        } else if (name == L"/machine") {
            value = &parsed.machineFile;
        } else if (name == L"/trace") {
            value = &parsed.traceFile;
        } else {
            error = "unknown switch \"" + toUtf8(args[i]) + "\"";
            return false;
        }
        if (value) {
            if (i + 1 >= args.size() || args[i + 1].empty() || isSwitchName(args[i + 1])) {
                error = "switch " + toUtf8(args[i]) + " needs a file name after it";
                return false;
            }
            *value = args[++i];
        }
    }
    return true;
}

std::string usageText() {
    return "Usage: velo [/s] [/log FILE] [/machine FILE] [/trace FILE]\n"
           "  /s             silent: no message box at the end\n"
           "  /log FILE      write the result log to FILE (replaced if it exists)\n"
           "  /machine FILE  run on the simulated machine described in FILE\n"
           "  /trace FILE    record every platform call of the run to FILE, one JSON line each\n"
           "  /?             show this text\n"
           "Switches are case-insensitive. The run's return code (0, 1602, 1) is printed at the\n"
           "end; the exit status is 0, or 87 for a bad command line.\n";
}

}  // namespace velo
