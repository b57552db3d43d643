#pragma once

#include "output/output_command.h"

#include <string>

#include <QStringList>

namespace ostrim {

enum class CommandKind { Help, Version, ListPorts, SetOutputs, UsageError };

// What the user asked for on the command line. The port and address stay the texts as typed:
// the action reads them exactly as it reads the window's entries.
struct CommandLine
{
    CommandKind kind = CommandKind::UsageError;
    std::string portText;
    std::string addressText;
    OutputStates outputs {};
    bool verbose = false;
    // The help text, or what is wrong with the usage.
    std::string text;
};

// arguments[0] is the program, as in QCoreApplication::arguments().
CommandLine ParseCommandLine(const QStringList &arguments);

// The window takes no argument; any argument at all is for the command line.
inline bool WantsWindow(int argc)
{
    return argc <= 1;
}

} // namespace ostrim
