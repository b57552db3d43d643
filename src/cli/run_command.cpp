#include "cli/run_command.h"

#include "cli/terminal_window.h"
#include "ostrim_version.h"
#include "output/set_outputs.h"
#include "serial/port_details.h"
#include "serial/posix_serial_line.h"

#include <iostream>

#include <QCoreApplication>

namespace ostrim {
namespace {

std::string HexBytes(const std::vector<std::uint8_t> &bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += Digits[byte >> 4];
        text += Digits[byte & 0xF];
    }
    return text;
}

std::string SentReport(const WatchedLine &line, const std::vector<std::string> &listed)
{
    const auto number = static_cast<std::size_t>(line.PortNumber());
    std::string report = "Sent " + HexBytes(line.Written()) + " to port " + std::to_string(number);
    if (number >= 1 && number <= listed.size())
        report += " (" + listed[number - 1] + ")";
    return report + "\n";
}

int SetOutputsOnLine(const CommandLine &commandLine, const CommandSystem &system, std::ostream &out,
    std::ostream &err)
{
    // The list exactly as the line read it when opening, for naming the device it sent to.
    std::vector<std::string> listed;
    PosixSerialLine systemLine([&listed, ports = system.ports] {
        listed = ports();
        return listed;
    });
    WatchedLine line(systemLine);
    TerminalWindow window(commandLine, err);
    SetOutputs(window, line);

    if (window.MessageCount() > 0)
        return ExitCode::Message;
    // The action shows a message for every way it can fail; this guards against one that ends
    // quietly without sending, which a script must not take for success.
    if (!line.Sent()) {
        window.ShowMessage("nothing was sent");
        return ExitCode::Message;
    }
    if (commandLine.verbose)
        out << SentReport(line, listed) << std::flush;
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
