#include "cli/run_command.h"

#include "ostrim_version.h"
#include "output/set_outputs.h"
#include "serial/failure_advice.h"
#include "serial/network/network_line.h"

#include <cstdio>
#include <ostream>
#include <sstream>

namespace ostrim {
namespace {

// "Sent 07 A0 to port 2 (/dev/ttyUSB0)"; a device named on the command line has no port number,
// and is named as the line knows it ("COM3" for "\\.\com3"), else as it was given.
std::string SentReport(const ActionOutcome &sent, const std::string &device)
{
    char frame[8];
    std::snprintf(frame, sizeof frame, "%02X %02X", sent.frame[0], sent.frame[1]);
    std::string report = "Sent " + std::string(frame) + " to ";
    if (!device.empty())
        return report + (sent.device.empty() ? device : sent.device) + "\n";
    report += "port " + std::to_string(sent.portNumber);
    return report + (sent.device.empty() ? "" : " (" + sent.device + ")") + "\n";
}

// Every line of a message marked as ours, as a shell's user expects of any program's messages.
void PrintMessage(const std::string &text, std::ostream &err)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        err << "ostrim: " << line << '\n';
    err << std::flush;
}

int SetOutputsOnLine(const CommandLine &commandLine, const CommandSystem &system, std::ostream &out,
    std::ostream &err)
{
    const std::unique_ptr<SerialLine> line = system.line(commandLine.device);
    const ActionOutcome outcome = SetOutputs(
        GivenEntries(commandLine.portText, commandLine.addressText, commandLine.outputs), *line);
    if (outcome.ending != Ending::Sent) {
        PrintMessage(WithAdvice(outcome.message, outcome.failure, shellWords), err);
        return ExitCode::Message;
    }
    if (commandLine.verbose)
        out << SentReport(outcome, commandLine.device) << std::flush;
    return ExitCode::Sent;
}

int Print(const std::string &text, std::ostream &out, std::ostream &err)
{
    out << text << std::flush;
    if (!out) {
        err << "ostrim: cannot write to standard output\n";
        return ExitCode::Message;
    }
    return ExitCode::Sent;
}

} // namespace

decltype(CommandSystem::line) NetworkOrPortLine(
    std::function<SerialPortLine(std::optional<OneDevice> device)> portLine)
{
    return
        [portLine = std::move(portLine)](const std::string &device) -> std::unique_ptr<SerialLine> {
            if (std::unique_ptr<SerialLine> network = NetworkLineFor(device))
                return network;
            return std::make_unique<SerialPortLine>(
                portLine(device.empty() ? std::nullopt : std::optional(OneDevice {device})));
        };
}

int RunCommand(const CommandLine &commandLine, const CommandSystem &system, std::ostream &out,
    std::ostream &err)
{
    switch (commandLine.kind) {
    case CommandKind::Help:
        return Print(commandLine.text, out, err);
    case CommandKind::Version:
        return Print(std::string("Ostrim ") + VersionText + "\n", out, err);
    case CommandKind::ListPorts:
        return Print(system.portList(), out, err);
    case CommandKind::SetOutputs:
        return SetOutputsOnLine(commandLine, system, out, err);
    case CommandKind::UsageError:
        break;
    }
    err << "ostrim: " << commandLine.text << "\nTry 'ostrim --help' for more information.\n";
    return ExitCode::Usage;
}

} // namespace ostrim
