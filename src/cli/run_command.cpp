#include "cli/run_command.h"

#include "ostrim_version.h"
#include "output/set_outputs.h"
#include "serial/failure_advice.h"
#include "serial/port_details.h"
#include "serial/posix_serial_line.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#include <QCoreApplication>

namespace ostrim {
namespace {

// What the user can do, said for a shell: there is no button to press again.
constexpr FaceWords terminalWords {
    "Close it and try again.", "Choose another port: ostrim --list-ports lists them."};

std::string SentReport(const ActionOutcome &sent)
{
    char report[64];
    std::snprintf(report, sizeof report, "Sent %02X %02X to port %d", sent.frame[0], sent.frame[1],
        sent.portNumber);
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
    PosixSerialLine line(system.ports);
    const ActionOutcome outcome = SetOutputs(
        GivenEntries(commandLine.portText, commandLine.addressText, commandLine.outputs), line);
    if (outcome.ending != Ending::Sent) {
        PrintMessage(WithAdvice(outcome.message, outcome.failure, terminalWords), err);
        return ExitCode::Message;
    }
    if (commandLine.verbose)
        out << SentReport(outcome) << std::flush;
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

int RunCommand(const CommandLine &commandLine, const CommandSystem &system, std::ostream &out,
    std::ostream &err)
{
    switch (commandLine.kind) {
    case CommandKind::Help:
        return Print(commandLine.text, out, err);
    case CommandKind::Version:
        return Print(std::string("Ostrim ") + VersionText + "\n", out, err);
    case CommandKind::ListPorts:
        return Print(PortListText(system.listing()), out, err);
    case CommandKind::SetOutputs:
        return SetOutputsOnLine(commandLine, system, out, err);
    case CommandKind::UsageError:
        break;
    }
    err << "ostrim: " << commandLine.text << "\nTry 'ostrim --help' for more information.\n";
    return ExitCode::Usage;
}

int RunCommandLine(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(VersionText));
    return RunCommand(
        ParseCommandLine(QCoreApplication::arguments()), CommandSystem {}, std::cout, std::cerr);
}

} // namespace ostrim
