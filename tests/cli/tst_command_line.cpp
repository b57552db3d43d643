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
        {{"--port", " 32767\t", "--address", "007 "}, "port ' 32767\t' address '007 ' on 0000"},
        {{"--port=1", "--address=7"}, "port '1' address '7' on 0000"},
        {{"--port", "1", "--address", "7", "--on", ""}, "port '1' address '7' on 0000"},
        {{"--port", "1", "--address", "7", "--on", "4,3,2,1"}, "port '1' address '7' on 1111"},
        {{"--port", "1", "--address", "7", "--on", " 2 , 4 "}, "port '1' address '7' on 0101"},
        {{"--port", "1", "--address", "7", "--on", "2,2"}, "port '1' address '7' on 0100"},
        {{"-v", "--port", "1", "--address", "7"}, "port '1' address '7' on 0000 verbose"},
        // The line on the device takes any number; 1 is one the action lets through.
        {{"--device", "/dev/serial/by-id/usb-x", "--address", "7", "--on", "2"},
            "port '1' device '/dev/serial/by-id/usb-x' address '7' on 0100"},
        {{"-d", "/dev/ttyUSB0", "-a", "9", "--verbose"},
            "port '1' device '/dev/ttyUSB0' address '9' on 0000 verbose"},
        // A device server's address is the device; a malformed one is a mistake in the usage.
        {{"--device", "socket://[::1]:7000", "-a", "7"},
            "port '1' device 'socket://[::1]:7000' address '7' on 0000"},
        {{"--device", "rfc2217://board", "-a", "7"},
            "usage: --device 'rfc2217://board' names no port: give rfc2217://HOST:PORT or "
            "socket://HOST:PORT"},
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
#ifdef _WIN32
        {{"/?"}, "help"},
        {{"-?"}, "help"},
#endif
        {{"--version"}, "version"},
        {{"-V"}, "version"},
        {{"--list-ports"}, "list ports"},
        {{"-l"}, "list ports"},
    };
    for (const Row &row : rows) {
        INFO(Joined(row.arguments));
        CHECK(Parsed(row.arguments) == row.parsed);
    }
}
