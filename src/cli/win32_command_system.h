#pragma once

#include "cli/run_command.h"
#include "serial/win32/win32_line_backend.h"

#include <string>
#include <vector>

namespace ostrim {

// The command line on Windows: port n is COMn, --device takes a COM port's name, and --list-ports
// shows the COM ports the system has.
CommandSystem Win32CommandSystem(Win32LineEnvironment environment = {});

// The program's arguments as Windows holds them, in UTF-16, each turned into UTF-8 by us. The C
// runtime's argv passes them through the ANSI code page, whose best-fit mapping turns a
// full-width "１" into "1" and a full-width quote or slash into a real one.
std::vector<std::string> CommandArguments();

// The console program ostrim.com. With no argument it starts the window, Ostrim.exe from the
// folder it is in, and returns at once, as typing "ostrim" opens the window on Linux.
int RunConsoleProgram();

// Ostrim.exe given arguments: the same command line as ostrim.com's, with the same exit codes and
// its output on the console it was started from, if any, and no window. A batch file or a
// scheduled task that names Ostrim.exe waits for it and gets its exit code; a message box would
// hang an unattended task.
int RunCommandOfWindowProgram(const std::vector<std::string> &arguments);

} // namespace ostrim
