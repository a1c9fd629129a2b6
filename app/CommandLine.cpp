#include "app/CommandLine.h"

#include <algorithm>
#include <set>

#include "platform/Text.h"

namespace velo {

namespace {

bool isSwitchName(const std::wstring& arg) {
    const std::wstring name = lowerAscii(arg);
    return std::find(SWITCHES.begin(), SWITCHES.end(), name) != SWITCHES.end();
}

}  // namespace

bool hasSwitch(const std::vector<std::wstring>& args, std::wstring_view name) {
    return std::any_of(args.begin(), args.end(),
                       [&](const std::wstring& arg) { return lowerAscii(arg) == name; });
}

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
        if (isSwitchName(args[i]))
            parsed.run.switches.push_back(name);
        if (name == SWITCH_SILENT) {
            parsed.run.silent = true;
        } else if (name == SWITCH_USAGE) {
            parsed.showUsage = true;
        } else if (name == SWITCH_LOG) {
            value = &parsed.run.logFilePath;
        } else if (name == SWITCH_MACHINE) {
            value = &parsed.machineFile;
        } else if (name == SWITCH_TRACE) {
            value = &parsed.traceFile;
        } else if (name == SWITCH_JSON) {
            value = &parsed.run.jsonFilePath;
        } else if (name == SWITCH_REPLAY) {
            value = &parsed.replayFile;
        } else if (name == SWITCH_LIST) {
            parsed.run.listOnly = true;
        } else if (name == SWITCH_EXIT_CODE) {
            parsed.run.exitCodeFollowsResult = true;
        } else if (name == SWITCH_VERIFY) {
            parsed.run.verify = true;
        } else if (name == SWITCH_RESUME) {
            parsed.run.resume = true;
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
    return true;
}

std::string usageText(bool simulation) {
    std::string text =
        "Usage: velo [/s] [/log FILE] [/json FILE] [/exitcode] [/list] [/verify] [/resume]\n";
    text += simulation ? "            [/machine FILE | /replay FILE] [/trace FILE]\n"
                       : "            [/trace FILE]\n";
    text +=
        "  /s             silent: no message box at the end\n"
        "  /log FILE      write the result log to FILE (replaced if it exists)\n"
        "  /json FILE     write the result as a JSON document to FILE (replaced if it exists)\n"
        "  /exitcode      exit status 0 done, 3010 restart or power-off needed, 1 failed,\n"
        "                 2 no drive on this machine, 1618 another run in progress\n"
        "  /list          list the disks and the image each would receive; update nothing\n"
        "  /verify        after activation, identify each disk again and check its revision\n"
        "  /resume        finish an earlier update: drives that run, or wait to run, current\n"
        "                 firmware are left alone, and the image is chosen for the others\n";
    if (simulation) {
        text +=
            "  /machine FILE  run on the simulated machine described in FILE\n"
            "  /replay FILE   run on the machine recorded in FILE by /trace\n";
    }
    text +=
        "  /trace FILE    record every platform call of the run to FILE, one JSON line each\n"
        "  /?             show this text\n"
        "Switches are case-insensitive. The run's return code (0, 1602, 1) is printed at the\n"
        "end; the exit status is 0 (with /exitcode as above), or 87 for a bad command line\n";
    text += simulation ? "or a replay that departs from its recording.\n" : "(see the README).\n";
    return text;
}

}  // namespace velo
