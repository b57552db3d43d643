#pragma once

#include "output/output_command.h"

#include <string>
#include <vector>

namespace ostrim {

enum class CommandKind { Help, Version, ListPorts, SetOutputs, UsageError };

// What the user asked for on the command line. The port and address are whole numbers in range,
// kept as the texts typed: the action reads them as it reads the window's entries.
struct CommandLine
{
    CommandKind kind = CommandKind::UsageError;
    std::string portText {};
    std::string addressText {};
    // Given with --device: the one device to send to, whatever the port number. Empty: the port
    // is the portText-th of the system's ports.
    std::string device {};
    OutputStates outputs {};
    bool verbose = false;
    // The help text, or what is wrong with the usage.
    std::string text {};
};

// arguments[0] is the program, as in main's argv.
CommandLine ParseCommandLine(const std::vector<std::string> &arguments);

// The window takes no argument; any argument at all is for the command line.
inline bool WantsWindow(int argc)
{
    return argc <= 1;
}

} // namespace ostrim
