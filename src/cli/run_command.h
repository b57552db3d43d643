#pragma once

#include "cli/command_line.h"
#include "runtime/action_error.h"
#include "serial/serial_line.h"
#include "serial/serial_port_line.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace ostrim {

namespace ExitCode {
inline constexpr int Sent = 0; // also for help, version and the port list
inline constexpr int Message = 1;
inline constexpr int Usage = 2;
} // namespace ExitCode

// What a command needs of the system it runs on; each platform gives its own, and the tests give
// lines of their own.
struct CommandSystem
{
    // The line to send on: to the system's numbered ports, or with a device, to that one device
    // whatever the port number.
    std::function<std::unique_ptr<SerialLine>(const std::string &device)> line;
    // The text --list-ports shows.
    std::function<std::string()> portList;
};

// A command system's line: a network address gets a network line, and any other device, or none,
// the platform's port line.
decltype(CommandSystem::line) NetworkOrPortLine(
    std::function<SerialPortLine(std::optional<OneDevice> device)> portLine);

// Carries out a parsed command line, writing results to out and messages, each line as
// "ostrim: <message>", to err. Returns the exit code.
int RunCommand(const CommandLine &commandLine, const CommandSystem &system, std::ostream &out,
    std::ostream &err);

} // namespace ostrim
