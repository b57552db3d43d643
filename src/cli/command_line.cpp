#include "cli/command_line.h"

#include "runtime/readings.h"
#include "serial/network/network_address.h"
#include "serial/network/tcp_connection.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>

namespace ostrim {
namespace {

constexpr char Description[]
    = "Switches the four outputs of an addressed output board on a serial port (2400 baud, 8N1).\n"
      "Without arguments, opens the window.";

// What --device takes where the program runs: a device's path here, a COM port's name on Windows.
// Either takes a device server's address too.
#ifdef _WIN32
constexpr char DeviceExample[] = "COM3";
constexpr char DeviceValue[] = "NAME|ADDRESS";
constexpr char DeviceHelp[] = "Send to the COM port NAME instead, e.g. COM3, as\n"
                              "Device Manager names it; or to the port behind a\n"
                              "device server at ADDRESS, rfc2217://HOST:PORT or\n"
                              "socket://HOST:PORT (below).";
constexpr char HelpHelp[] = "Show this help and exit; /? and -? too.";
#else
constexpr char DeviceExample[] = "/dev/serial/by-id/usb-FTDI_FT232R_A9X1-if00-port0";
constexpr char DeviceValue[] = "PATH|ADDRESS";
constexpr char DeviceHelp[] = "Send to the serial device PATH instead, e.g. a name\n"
                              "under /dev/serial/by-id, which stays the same when\n"
                              "adapters are plugged in another order; or to the\n"
                              "port behind a device server at ADDRESS, either\n"
                              "rfc2217://HOST:PORT or socket://HOST:PORT (below).";
constexpr char HelpHelp[] = "Show this help and exit.";
#endif

constexpr int HighestPort = 32767;
constexpr int HighestAddress = 255;

constexpr char ExitCodes[]
    = "Exit codes:\n"
      "  0  the frame was sent (or the help, version or port list shown)\n"
      "  1  nothing was sent: the message on standard error says why\n"
      "  2  the command line was not understood\n"
      "\nDevice servers:\n"
      "  --device rfc2217://HOST:PORT sets the far port to 2400 8N1 without flow\n"
      "  control and sends once the server has confirmed each setting; a\n"
      "  server that waits for its client to speak first takes\n"
      "  rfc2217://HOST:PORT?client-first. --device socket://HOST:PORT sends\n"
      "  the frame as it is, leaving the far port's settings to the server, and\n"
      "  refuses a server that speaks telnet. HOST is a name, an IPv4 address or an\n"
      "  IPv6 address in brackets. No check for a port in use is made there:\n"
      "  the server decides who may share its port (ser2net with kickolduser\n"
      "  drops the user before). A press over the network ends ";

constexpr char Examples[] = ".\n"
                            "\nExamples:\n"
                            "  ostrim --list-ports\n"
                            "  ostrim --port 1 --address 7 --on 1,3\n";
constexpr char NetworkExample[]
    = "  ostrim --device rfc2217://192.0.2.10:2217 --address 7 --on 1,3\n";

// Each value option keeps every value given, so that one given twice is told rather than one of
// the values silently taken; each flag is counted.
struct Options
{
    std::vector<std::string> port;
    std::vector<std::string> device;
    std::vector<std::string> address;
    std::vector<std::string> on;
    CLI::Option *help = nullptr;
    CLI::Option *version = nullptr;
    CLI::Option *listPorts = nullptr;
    CLI::Option *verbose = nullptr;
    std::vector<CLI::Option *> values;
};

CLI::Option *AddFlag(CLI::App &app, const std::string &names, const std::string &description)
{
    return app.add_flag(names)->description(description);
}

// A value always takes the next argument, even one that starts with a minus (--address -3): the
// action, not the parser, judges the texts.
void AddValue(CLI::App &app, Options &options, const std::string &names,
    std::vector<std::string> &values, const std::string &valueName, const std::string &description)
{
    options.values.push_back(app.add_option(names, values, description)
                                 ->option_text(valueName)
                                 ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                 ->allow_extra_args(false));
}

void Declare(CLI::App &app, Options &options)
{
    app.set_help_flag(); // ours: the help is a text to print, and a command line of its own
    app.allow_extras(); // told in our own words below
    // The parser would take "/port 3" on Windows for "--port 3": a form that neither the help nor
    // the readme names, so that a script written with it would rest on nothing we promise.
    app.allow_windows_style_options(false);
    app.footer(std::string(ExitCodes) + WithinNetworkTimeout() + Examples + "  ostrim --device "
        + DeviceExample + " -a 7 -o 2\n" + NetworkExample);
    // Room for the longest option; the descriptions break their own lines to fit 80 columns.
    app.get_formatter()->column_width(28);
    options.help = AddFlag(app, "-h,--help", HelpHelp);
    options.version = AddFlag(app, "-V,--version", "Show the version and exit.");
    options.listPorts = AddFlag(app, "-l,--list-ports",
        "List the serial ports by number, with what the\nsystem knows of them.");
    AddValue(app, options, "-p,--port", options.port, "NUMBER",
        "Send to serial port NUMBER (see --list-ports).");
    AddValue(app, options, "-d,--device", options.device, DeviceValue, DeviceHelp);
    AddValue(
        app, options, "-a,--address", options.address, "NUMBER", "The board's address, 1 to 255.");
    AddValue(app, options, "-o,--on", options.on, "LIST",
        "The outputs to switch on, e.g. 1,3; the others are\nswitched off. Without it, all are "
        "off.");
    options.verbose = AddFlag(app, "-v,--verbose", "Say what was sent, and where.");
}

CommandLine UsageError(std::string what)
{
    return {.text = std::move(what)};
}

std::string Trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "1,3" -> outputs 1 and 3 on. Blanks around an item are allowed; an empty list switches all off.
std::optional<OutputStates> ReadOutputList(const std::string &list)
{
    OutputStates states {};
    if (Trimmed(list).empty())
        return states;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string output = Trimmed(list.substr(start, comma - start));
        if (output.size() != 1 || output[0] < '1' || output[0] > '4')
            return std::nullopt;
        states[static_cast<std::size_t>(output[0] - '1')] = 1;
        if (comma == list.size())
            return states;
        start = comma + 1;
    }
}

// A number as a script writes it: decimal digits, blanks around them allowed. The window's lenient
// reading would take "1x" for 1 and "7.5" for 8; a script that passes such a text is told instead.
std::optional<std::string> NotWholeNumber(
    const std::string &option, const std::string &text, int highest)
{
    const std::optional<int> value = WholeNumber<int>(Trimmed(text));
    if (value && *value >= 1 && *value <= highest)
        return std::nullopt;
    return option + " takes a whole number from 1 to " + std::to_string(highest) + ", not '" + text
        + "'";
}

std::optional<std::string> GivenTwice(const Options &options)
{
    for (const CLI::Option *option : options.values) {
        if (option->count() > 1)
            return "--" + option->get_lnames().front() + " is given more than once";
    }
    return std::nullopt;
}

CommandLine SetOutputsCommand(const Options &options)
{
    if (!options.port.empty() && !options.device.empty())
        return UsageError("--port and --device cannot be given together: give one of them");
    if ((options.port.empty() && options.device.empty()) || options.address.empty())
        return UsageError(
            "--port and --address are both needed to send (or --device in place of --port)");
    if (const std::optional<std::string> twice = GivenTwice(options))
        return UsageError(*twice);
    const std::string on = options.on.empty() ? std::string() : options.on.front();
    const std::optional<OutputStates> outputs = ReadOutputList(on);
    if (!outputs)
        return UsageError("--on takes outputs 1 to 4 separated by commas, not '" + on + "'");

    if (!options.port.empty()) {
        if (auto notNumber = NotWholeNumber("--port", options.port.front(), HighestPort))
            return UsageError(*notNumber);
    }
    if (auto notNumber = NotWholeNumber("--address", options.address.front(), HighestAddress))
        return UsageError(*notNumber);

    const bool oneDevice = !options.device.empty();
    if (oneDevice) {
        if (options.device.front().empty())
            return UsageError("--device takes the path of a serial device, not an empty text");
        if (IsNetworkAddress(options.device.front())) {
            const ParsedNetworkAddress parsed = ParseNetworkAddress(options.device.front());
            if (!parsed.address)
                return UsageError("--device " + parsed.error);
        }
    }
    // The line opens its one device whatever the number; 1 passes every check of a number.
    return {.kind = CommandKind::SetOutputs,
        .portText = oneDevice ? "1" : options.port.front(),
        .addressText = options.address.front(),
        .device = oneDevice ? options.device.front() : std::string(),
        .outputs = *outputs,
        .verbose = options.verbose->count() > 0};
}

bool AnySendOption(const Options &options)
{
    return options.verbose->count() > 0
        || std::any_of(options.values.begin(), options.values.end(),
            [](const CLI::Option *option) { return option->count() > 0; });
}

// --help, --version and --list-ports each do one thing alone; given with any other option, one of
// the two would go unheeded, and a script would believe it done.
std::optional<std::string> NotAlone(const CLI::App &app, const CLI::Option *alone)
{
    if (alone->count() == 0)
        return std::nullopt;
    for (const CLI::Option *option : app.get_options()) {
        if (option != alone && option->count() > 0)
            return "--" + alone->get_lnames().front() + " takes no other option";
    }
    return std::nullopt;
}

// On Windows, "/port" reads as an option to whoever types it, so it is told as one we do not know.
bool IsWindowsOption([[maybe_unused]] const std::string &argument)
{
#ifdef _WIN32
    return argument.size() > 1 && argument[0] == '/';
#else
    return false;
#endif
}

// What the parser left over: an unknown option, or an argument no option takes. Everything after
// "--" is an argument, whatever it looks like.
std::optional<std::string> LeftOver(const std::vector<std::string> &remaining)
{
    const auto end = std::find(remaining.begin(), remaining.end(), "--");
    const auto unknown = std::find_if(remaining.begin(), end, [](const std::string &argument) {
        return (argument.size() > 1 && argument[0] == '-') || IsWindowsOption(argument);
    });
    if (unknown != end && IsWindowsOption(*unknown))
        return "Unknown option '" + *unknown + "'.";
    if (unknown != end)
        return "Unknown option '" + unknown->substr(unknown->find_first_not_of('-')) + "'.";
    for (const std::string &argument : remaining) {
        if (argument != "--")
            return "unexpected argument '" + argument + "'";
    }
    return std::nullopt;
}

// The parser's own words for a value missing at the end, e.g. "--port" as the last argument.
std::string ParseFailure(
    const CLI::ParseError &error, const std::vector<std::string> &arguments, const Options &options)
{
    if (arguments.size() > 1) {
        const std::string &last = arguments.back();
        for (const CLI::Option *option : options.values) {
            if (option->check_name(last))
                return "Missing value after '" + last + "'.";
        }
    }
    return error.what();
}

// How Windows programs are asked for their help.
bool IsWindowsHelp([[maybe_unused]] const std::string &argument)
{
#ifdef _WIN32
    return argument == "/?" || argument == "-?";
#else
    return false;
#endif
}

// The arguments as the parser takes them: last first, without the program. "--port=" gives an
// empty value, as "--port ''" does; the parser would take it for a missing one.
std::vector<std::string> ForParser(
    const std::vector<std::string> &arguments, const Options &options)
{
    const auto takesValue = [&](const std::string &name) {
        return std::any_of(options.values.begin(), options.values.end(),
            [&](const CLI::Option *option) { return option->check_name(name); });
    };
    std::vector<std::string> split;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string &argument = arguments[index];
        const std::size_t equals = argument.find('=');
        if (argument == "--") {
            split.insert(split.end(), arguments.begin() + static_cast<std::ptrdiff_t>(index),
                arguments.end());
            break;
        }
        if (takesValue(argument) && index + 1 < arguments.size()) {
            split.push_back(argument);
            split.push_back(arguments[++index]);
        } else if (argument.starts_with("--") && equals != std::string::npos
            && takesValue(argument.substr(0, equals))) {
            split.push_back(argument.substr(0, equals));
            split.push_back(argument.substr(equals + 1));
        } else {
            split.push_back(IsWindowsHelp(argument) ? "--help" : argument);
        }
    }
    return {split.rbegin(), split.rend()};
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string> &arguments)
{
    CLI::App app {Description, "ostrim"};
    Options options;
    Declare(app, options);

    std::vector<std::string> forParser = ForParser(arguments, options);
    try {
        app.parse(forParser);
    } catch (const CLI::ParseError &error) {
        return UsageError(ParseFailure(error, arguments, options));
    }
    if (const std::optional<std::string> leftOver = LeftOver(app.remaining()))
        return UsageError(*leftOver);

    for (const CLI::Option *alone : {options.help, options.version, options.listPorts}) {
        if (std::optional<std::string> notAlone = NotAlone(app, alone))
            return UsageError(*notAlone);
    }
    if (options.help->count() > 0)
        return {.kind = CommandKind::Help, .text = app.help()};
    if (options.version->count() > 0)
        return {.kind = CommandKind::Version};
    if (options.listPorts->count() > 0)
        return {.kind = CommandKind::ListPorts};
    if (AnySendOption(options))
        return SetOutputsCommand(options);
    return UsageError("nothing to do");
}

} // namespace ostrim
