#include "app/CommandLine.h"

#include <set>

#include "platform/Text.h"

namespace velo {

namespace {

bool isSwitchName(const std::wstring& arg) {
    const std::wstring name = lowerAscii(arg);
    return name == L"/s" || name == L"/?" || name == L"/log" || name == L"/machine" ||
           name == L"/trace" || name == L"/json" || name == L"/list" || name == L"/exitcode" ||
           name == L"/replay" || name == L"/verify";
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
            error = "switch " + visibleText(args[i]) + " is given more than once";
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
        } else if (name == L"/json") {
            value = &parsed.run.jsonFilePath;
        } else if (name == L"/replay") {
            value = &parsed.replayFile;
        } else if (name == L"/list") {
            parsed.run.listOnly = true;
        } else if (name == L"/exitcode") {
            parsed.run.exitCodeFollowsResult = true;
        } else if (name == L"/verify") {
            parsed.run.verify = true;
        } else {
            error = "unknown switch \"" + visibleText(args[i]) + "\"";
            return false;
        }
        if (value) {
            if (i + 1 >= args.size() || args[i + 1].empty() || isSwitchName(args[i + 1])) {
                error = "switch " + visibleText(args[i]) + " needs a file name after it";
                return false;
            }
            *value = args[++i];
        }
    }
    if (!parsed.machineFile.empty() && !parsed.replayFile.empty()) {
        error = "switches /machine and /replay cannot be used together";
        return false;
    }
    if (parsed.run.listOnly && !parsed.run.jsonFilePath.empty()) {
        error = "switch /list writes no result document; leave out /json";
        return false;
    }
    return true;
}

std::string usageText() {
    return "Usage: velo [/s] [/log FILE] [/json FILE] [/exitcode] [/list] [/verify]\n"
           "            [/machine FILE | /replay FILE] [/trace FILE]\n"
           "  /s             silent: no message box at the end\n"
           "  /log FILE      write the result log to FILE (replaced if it exists)\n"
           "  /json FILE     write the result as a JSON document to FILE (replaced if it exists)\n"
           "  /exitcode      exit status 0 updated, 3010 restart needed, 1 failed or no disk\n"
           "  /list          list the disks and the image each would receive; update nothing\n"
           "  /verify        after activation, identify each disk again and check its revision\n"
           "  /machine FILE  run on the simulated machine described in FILE\n"
           "  /replay FILE   run on the machine recorded in FILE by /trace\n"
           "  /trace FILE    record every platform call of the run to FILE, one JSON line each\n"
           "  /?             show this text\n"
           "Switches are case-insensitive. The run's return code (0, 1602, 1) is printed at the\n"
           "end; the exit status is 0 (with /exitcode as above), or 87 for a bad command line\n"
           "or a replay that departs from its recording.\n";
}

}  // namespace velo
