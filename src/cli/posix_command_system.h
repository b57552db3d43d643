#pragma once

#include "cli/run_command.h"
#include "serial/posix_serial_line.h"
#include "serial/system_ports.h"

namespace ostrim {

// The command line on this system: the ports it lists, and any serial device named by its path.
CommandSystem PosixCommandSystem(
    PortList ports = SystemPortList {},
    PortListing listing = [] { return SystemPortList {}.Details(); },
    LineEnvironment environment = {});

// The program when it is given arguments: no window, and so no display, is needed.
int RunCommandLine(int argc, char *argv[]);

} // namespace ostrim
