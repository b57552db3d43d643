#include "cli/command_line.h"
#include "table_test.h"

#include <string>
#include <string_view>
#include <vector>

using namespace ostrim;

namespace {

using Arguments = std::vector<std::string>;

// The command as one line, e.g. "port '1' address '7' on 1010 verbose", or "usage: <text>".
std::string Parsed(const Arguments &arguments)
{
    Arguments withProgram {"ostrim"};
    withProgram.insert(withProgram.end(), arguments.begin(), arguments.end());
    const CommandLine commandLine = ParseCommandLine(withProgram);
    switch (commandLine.kind) {
    case CommandKind::Help:
        return "help";
    case CommandKind::Version:
        return "version";
    case CommandKind::ListPorts:
        return "list ports";
    case CommandKind::UsageError:
        return "usage: " + commandLine.text;
    case CommandKind::SetOutputs:
        break;
    }
    std::string shown = "port '" + commandLine.portText + "'";
    if (!commandLine.device.empty())
        shown += " device '" + commandLine.device + "'";
    shown += " address '" + commandLine.addressText + "' on ";
    for (const std::int16_t state : commandLine.outputs)
        shown += std::to_string(state);
    return shown + (commandLine.verbose ? " verbose" : "");
}

std::string Joined(const Arguments &arguments)
{
    std::string joined;
    for (const std::string &argument : arguments)
        joined += "'" + argument + "' ";
    return joined;
}

constexpr std::string_view NeedBoth
    = "usage: --port and --address are both needed to send (or --device in place of --port)";

struct Row
{
    Arguments arguments;
    std::string_view parsed;
};

} // namespace

TEST_CASE("A send keeps the port and address texts as typed and reads the list of outputs")
{
    const Row rows[] {
        {{"--port", "1", "--address", "7", "--on", "1,3"}, "port '1' address '7' on 1010"},
        {{"-p", "3", "-a", "255", "-o", "4"}, "port '3' address '255' on 0001"},
        {{"--port", " 2.5", "--address", "7x "}, "port ' 2.5' address '7x ' on 0000"},
        {{"--port", "1", "--address", "-3"}, "port '1' address '-3' on 0000"},
        {{"--port=1", "--address=-3"}, "port '1' address '-3' on 0000"},
        {{"--port=", "--address=7=8"}, "port '' address '7=8' on 0000"},
        {{"--port", "", "--address", ""}, "port '' address '' on 0000"},
        {{"--port", "1", "--address", "7", "--on", ""}, "port '1' address '7' on 0000"},
        {{"--port", "1", "--address", "7", "--on", "4,3,2,1"}, "port '1' address '7' on 1111"},
        {{"--port", "1", "--address", "7", "--on", " 2 , 4 "}, "port '1' address '7' on 0101"},
        {{"--port", "1", "--address", "7", "--on", "2,2"}, "port '1' address '7' on 0100"},
        {{"--verbose", "--port", "1", "--address", "7"}, "port '1' address '7' on 0000 verbose"},
        // The line on the device takes any number; 1 is one the action lets through.
        {{"--device", "/dev/serial/by-id/usb-x", "--address", "7", "--on", "2"},
            "port '1' device '/dev/serial/by-id/usb-x' address '7' on 0100"},
        {{"-d", "/dev/ttyUSB0", "-a", "9", "--verbose"},
            "port '1' device '/dev/ttyUSB0' address '9' on 0000 verbose"},
    };
    for (const Row &row : rows) {
        INFO(Joined(row.arguments));
        CHECK(Parsed(row.arguments) == row.parsed);
    }
}

TEST_CASE("A command line that cannot be carried out says what is wrong with it")
{
    const Row rows[] {
        {{"--port", "1", "--address", "7", "--on", "5"},
            "usage: --on takes outputs 1 to 4 separated by commas, not '5'"},
        {{"--port", "1", "--address", "7", "--on", "0"},
            "usage: --on takes outputs 1 to 4 separated by commas, not '0'"},
        {{"--port", "1", "--address", "7", "--on", "12"},
            "usage: --on takes outputs 1 to 4 separated by commas, not '12'"},
        {{"--port", "1", "--address", "7", "--on", "1,,3"},
            "usage: --on takes outputs 1 to 4 separated by commas, not '1,,3'"},
        {{"--port", "1", "--address", "7", "--on", "1;3"},
            "usage: --on takes outputs 1 to 4 separated by commas, not '1;3'"},
        {{"--port", "1", "--address", "7", "--on", "1,"},
            "usage: --on takes outputs 1 to 4 separated by commas, not '1,'"},
        {{"--port", "1", "--address", "7", "--on", "1", "--on", "2"},
            "usage: --on is given more than once"},
        {{"--port", "1", "--address", "7", "--port", "2"}, "usage: --port is given more than once"},
        {{"--port", "1", "--address", "7", "-a", "2"}, "usage: --address is given more than once"},
        {{"--device", "/dev/ttyUSB0", "--address", "7", "-d", "/dev/ttyUSB1"},
            "usage: --device is given more than once"},
        {{"--port", "1"}, NeedBoth},
        {{"--address", "7"}, NeedBoth},
        {{"--device", "/dev/ttyUSB0"}, NeedBoth},
        {{"--on", "1"}, NeedBoth},
        {{"--verbose"}, NeedBoth},
        {{"--port", "1", "--device", "/dev/ttyUSB0", "--address", "7"},
            "usage: --port and --device cannot be given together: give one of them"},
        {{"--device", "", "--address", "7"},
            "usage: --device takes the path of a serial device, not an empty text"},
        {{"--list-ports", "--port", "1"}, "usage: --list-ports takes no other option"},
        {{"--list-ports", "--device", "/dev/ttyUSB0"}, "usage: --list-ports takes no other option"},
        {{"--list-ports", "--verbose"}, "usage: --list-ports takes no other option"},
        {{"--port", "1", "--address", "7", "--baud", "9600"}, "usage: Unknown option 'baud'."},
        {{"--port", "1", "--address", "7", "7"}, "usage: unexpected argument '7'"},
        {{"--port", "1", "--address", "7", "--", "--on"}, "usage: unexpected argument '--on'"},
        {{"--address", "7", "--port"}, "usage: Missing value after '--port'."},
        {{"--"}, "usage: nothing to do"},
        {{"--address", "--port=1"}, NeedBoth},
    };
    for (const Row &row : rows) {
        INFO(Joined(row.arguments));
        CHECK(Parsed(row.arguments) == row.parsed);
    }
}

TEST_CASE("Help, version and the port list, each by its long and its short name")
{
    const Row rows[] {
        {{"--help"}, "help"},
        {{"-h"}, "help"},
        {{"--port", "1", "--address", "7", "--help"}, "help"},
        {{"--on", "9", "--help"}, "help"},
        {{"--version"}, "version"},
        {{"-v"}, "version"},
        {{"--list-ports"}, "list ports"},
        {{"-l"}, "list ports"},
    };
    for (const Row &row : rows) {
        INFO(Joined(row.arguments));
        CHECK(Parsed(row.arguments) == row.parsed);
    }
}
