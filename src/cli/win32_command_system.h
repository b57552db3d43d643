#pragma once

#include "cli/run_command.h"
#include "serial/win32/win32_line_backend.h"

#include <filesystem>

namespace ostrim {

// The command line on Windows: port n is COMn, --device takes a COM port's name, and --list-ports
// shows the COM ports the system has.
CommandSystem Win32CommandSystem(Win32LineEnvironment environment = {});

// The console program ostrim.com. With no argument it starts the window, Ostrim.exe from the
// folder it is in, and returns at once, as typing "ostrim" opens the window on Linux.
int RunConsoleProgram(int argc, char *argv[]);

// Starts the window's program and does not wait for it; 1 with a message on err if it cannot.
int StartWindow(const std::filesystem::path &program, std::ostream &err);

} // namespace ostrim
