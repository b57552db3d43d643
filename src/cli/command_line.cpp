#include "cli/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace ostrim {
namespace {

struct Options
{
    QCommandLineOption help {{"h", "help"}, "Show this help and exit."};
    QCommandLineOption version {{"v", "version"}, "Show the version and exit."};
    QCommandLineOption listPorts {{"l", "list-ports"},
        "List the serial ports by number, with what the system knows of them."};
    QCommandLineOption port {
        {"p", "port"}, "Send to serial port <number> (see --list-ports).", "number"};
    QCommandLineOption address {{"a", "address"}, "The board's address, 1 to 255.", "number"};
    QCommandLineOption on {{"o", "on"},
        "The outputs to switch on, e.g. 1,3; the others are switched off. Without it, all are off.",
        "list"};
    QCommandLineOption verbose {"verbose", "Say what was sent, and where."};
};

constexpr char Description[]
    = "Switches the four outputs of an addressed output board on a serial port (2400 baud, 8N1).\n"
      "Without arguments, opens the window.";

constexpr char ExitCodes[] = "\nExit codes:\n"
                             "  0  the frame was sent (or the help, version or port list shown)\n"
                             "  1  nothing was sent: the message on standard error says why\n"
                             "  2  the command line was not understood\n"
                             "\nExamples:\n"
                             "  ostrim --list-ports\n"
                             "  ostrim --port 1 --address 7 --on 1,3\n";

CommandLine UsageError(const QString &what)
{
    CommandLine commandLine;
    commandLine.text = what.toStdString();
    return commandLine;
}

// "1,3" -> outputs 1 and 3 on. Blanks around an item are allowed; an empty list switches all off.
std::optional<OutputStates> ReadOutputList(const QString &list)
{
    OutputStates states {};
    if (list.trimmed().isEmpty())
        return states;
    for (const QString &item : list.split(u',')) {
        const QString output = item.trimmed();
        if (output.size() != 1 || output[0] < u'1' || output[0] > u'4')
            return std::nullopt;
        states[static_cast<std::size_t>(output[0].unicode() - u'1')] = 1;
    }
    return states;
}

std::optional<QString> GivenTwice(const QCommandLineParser &parser, const Options &options)
{
    for (const QCommandLineOption *option : {&options.port, &options.address, &options.on}) {
        if (parser.values(*option).size() > 1)
            return QStringLiteral("--%1 is given more than once").arg(option->names().last());
    }
    return std::nullopt;
}

CommandLine SetOutputsCommand(const QCommandLineParser &parser, const Options &options)
{
    if (!parser.isSet(options.port) || !parser.isSet(options.address))
        return UsageError(QStringLiteral("--port and --address are both needed to send"));
    if (const std::optional<QString> twice = GivenTwice(parser, options))
        return UsageError(*twice);
    const std::optional<OutputStates> outputs = ReadOutputList(parser.value(options.on));
    if (!outputs) {
        return UsageError(QStringLiteral("--on takes outputs 1 to 4 separated by commas, not '%1'")
                              .arg(parser.value(options.on)));
    }
    CommandLine commandLine;
    commandLine.kind = CommandKind::SetOutputs;
    commandLine.portText = parser.value(options.port).toStdString();
    commandLine.addressText = parser.value(options.address).toStdString();
    commandLine.outputs = *outputs;
    commandLine.verbose = parser.isSet(options.verbose);
    return commandLine;
}

bool AnySendOption(const QCommandLineParser &parser, const Options &options)
{
    return parser.isSet(options.port) || parser.isSet(options.address) || parser.isSet(options.on)
        || parser.isSet(options.verbose);
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments)
{
    const Options options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addOptions({options.help, options.version, options.listPorts, options.port,
        options.address, options.on, options.verbose});

    if (!parser.parse(arguments))
        return UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        return UsageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    }

    CommandLine commandLine;
    if (parser.isSet(options.help)) {
        commandLine.kind = CommandKind::Help;
        commandLine.text = (parser.helpText() + QString::fromLatin1(ExitCodes)).toStdString();
        return commandLine;
    }
    if (parser.isSet(options.version)) {
        commandLine.kind = CommandKind::Version;
        return commandLine;
    }
    if (parser.isSet(options.listPorts)) {
        if (AnySendOption(parser, options))
            return UsageError(QStringLiteral("--list-ports takes no other option"));
        commandLine.kind = CommandKind::ListPorts;
        return commandLine;
    }
    if (AnySendOption(parser, options))
        return SetOutputsCommand(parser, options);
    return UsageError(QStringLiteral("nothing to do"));
}

} // namespace ostrim
