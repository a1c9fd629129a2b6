// What a Windows program of this build asks of its own process before and after the launcher
// runs: where its output goes, how its command line reads, and a box for what no console shows.
#pragma once

#include <string>
#include <vector>

namespace velo {

// A GUI-subsystem program starts without a console, so from an interactive command prompt its
// lines would go nowhere. When standard output or error was not redirected, the program joins
// the console of the process that started it and writes there. False when a stream has nowhere
// to go.
bool joinParentConsole();

// The arguments without the program name, split as the system splits them, and the argument
// text as typed. False when the process's command line cannot be read.
bool readProcessCommandLine(std::vector<std::wstring>& args, std::wstring& argumentText);

// Whether the process's window station is the visible one: a service, or any process in
// session 0, has none a person can see, and a message box there would wait for ever.
bool desktopVisible();

// A modal box with an OK button, shown by the program itself rather than by a run; error adds
// the error icon.
void showProgramBox(const std::wstring& text, bool error);

}  // namespace velo
