#pragma once

#include "cli/command_line.h"
#include "serial/system_ports.h"

#include <iosfwd>

namespace ostrim {

namespace ExitCode {
inline constexpr int Sent = 0; // also for help, version and the port list
inline constexpr int Message = 1;
inline constexpr int Usage = 2;
} // namespace ExitCode

// Where a command finds the ports; the tests give it pseudo-terminals.
struct CommandSystem
{
    PortList ports = SystemPortList {};
    PortListing listing = [] { return SystemPortList {}.Details(); };
};

// Carries out a parsed command line, writing results to out and messages, each line as
// "ostrim: <message>", to err. Returns the exit code.
int RunCommand(const CommandLine &commandLine, const CommandSystem &system, std::ostream &out,
    std::ostream &err);

// The program when it is given arguments: no window, and so no display, is needed.
int RunCommandLine(int argc, char *argv[]);

} // namespace ostrim
