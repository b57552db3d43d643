#include "action_fixtures.h"
#include "cli/posix_command_system.h"
#include "console_declared.h"
#include "hex_text.h"
#include "pseudo_terminal.h"
#include "table_test.h"
#include "temporary_folder.h"

#include <sstream>

#include <sys/file.h>
#include <unistd.h>

using namespace ostrim;
using namespace std::chrono_literals;

namespace {

struct Ran
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

Ran Run(std::vector<std::string> arguments, const CommandSystem &system)
{
    arguments.insert(arguments.begin(), "ostrim");
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = RunCommand(ParseCommandLine(arguments), system, out, err);
    return {exitCode, out.str(), err.str()};
}

std::string Replaced(std::string text, const std::string &name, const std::string &by)
{
    for (std::size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + by.size()))
        text.replace(at, name.size(), by);
    return text;
}

} // namespace

// On real pseudo-terminals: the ports are [OTHER, BOARD]; BY-ID is a stable name of BOARD's.
TEST_CASE("A frame goes to the port by number or to the device by path, and a refusal names the "
          "port as it was given")
{
    struct Row
    {
        std::string_view name;
        std::vector<std::string> arguments;
        bool held;
        std::string_view wire; // what BOARD receives
        std::string_view out;
        std::string_view err;
    };
    const Row rows[] {
        {"port 2, verbose", {"--port", "2", "-a", "255", "-o", "4", "--verbose"}, false, "FF 10",
            "Sent FF 10 to port 2 (BOARD)\n", ""},
        {"the device by a stable name, verbose: no port number",
            {"--device", "BY-ID", "-a", "7", "-o", "1,3", "--verbose"}, false, "07 A0",
            "Sent 07 A0 to BY-ID\n", ""},
        {"port 2 held by another program", {"--port", "2", "-a", "7"}, true, "", "",
            "ostrim: Port 2 (BOARD) is in use by another program. Close it and try again.\n"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        PseudoTerminal other;
        PseudoTerminal board;
        // A name that stays the same for the device, as /dev/serial/by-id gives.
        const TemporaryFolder byIdFolder;
        const std::string byId = byIdFolder.path() / "usb-FTDI_FT232R_A9X1-if00-port0";
        REQUIRE(::symlink(board.devicePath().c_str(), byId.c_str()) == 0);
        const auto named = [&](std::string text) {
            text = Replaced(std::move(text), "OTHER", other.devicePath());
            text = Replaced(std::move(text), "BOARD", board.devicePath());
            return Replaced(std::move(text), "BY-ID", byId);
        };
        // Held as another program holds it; the flock is the test's own, on an open of its own.
        if (row.held)
            REQUIRE(::flock(board.slaveHandle(), LOCK_EX) == 0);
        std::vector<std::string> arguments;
        for (const std::string &argument : row.arguments)
            arguments.push_back(named(argument));

        const Ran ran = Run(
            arguments, PosixCommandSystem(PortsAre({other.devicePath(), board.devicePath()}), {}));
        CHECK(ran.exitCode == (row.err.empty() ? ExitCode::Sent : ExitCode::Message));
        CHECK(ran.out == named(std::string(row.out)));
        CHECK(ran.err == named(std::string(row.err)));
        const std::vector<std::uint8_t> received
            = row.wire.empty() ? board.readAll(100ms) : board.read(2);
        CHECK(HexText(received) == row.wire);
    }
}

TEST_CASE("The port list shows each port with what the system knows of it, or what to check")
{
    struct Row
    {
        std::vector<std::string> devices;
        std::string_view listed;
    };
    const Row rows[] {
        {{"/dev/ttyS0", "/dev/ttyUSB0"},
            "1 = /dev/ttyS0 (the system console)\n"
            "2 = /dev/ttyUSB0: FT232R USB UART, FTDI, serial number A9X1, USB 0403:6001\n"},
        {{},
            "This system has no serial port that this user may see: check that the adapter is "
            "plugged in, and that you are in the serial ports' group (dialout).\n"
            "A board behind a serial device server is reached with --device "
            "rfc2217://HOST:PORT.\n"},
    };
    for (const Row &row : rows) {
        const auto listing = [&] {
            return MatchPortDetails(row.devices,
                {{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A9X1", 0x0403, 0x6001}},
                [](const std::string &device) { return device == "/dev/ttyS0"; });
        };
        const Ran ran = Run({"--list-ports"}, PosixCommandSystem(PortsAre(row.devices), listing));
        CHECK(ran.exitCode == ExitCode::Sent);
        CHECK(ran.out == row.listed);
        CHECK(ran.err.empty());
    }
}

// The console is a pseudo-terminal declared as such in a sysfs of the test's own.
TEST_CASE("Where every port is the console, the command line says that none can be used and what "
          "to do")
{
    PseudoTerminal console;
    const ConsoleDeclared sysfs(console.devicePath());
    LineEnvironment environment;
    environment.sysClassTty = sysfs.path();
    const PortList ports = PortsAre({console.devicePath()});
    const CommandSystem system = PosixCommandSystem(ports, {}, environment);
    const std::string none
        = "No port here can be used, since Ostrim never writes to the system "
          "console: plug in a USB serial adapter, and it shows up as a new port. A board behind a "
          "serial device server is reached ";
    // The console's own number, and one past it: the advice in the command line's words, and the
    // line's message in words that fit either face.
    const std::pair<std::string, std::string> rows[] {
        {"1",
            "ostrim: Port 1 (CONSOLE) is this system's console. " + none
                + "with --device rfc2217://HOST:PORT.\n"},
        {"2",
            "ostrim: Port 2 does not exist. This system has 1 serial port: 1 = CONSOLE (the system "
            "console). "
                + none + "from the command line: ostrim --device rfc2217://HOST:PORT.\n"},
    };
    for (const auto &[port, err] : rows) {
        CAPTURE(port);
        const Ran ran = Run({"--port", port, "--address", "7"}, system);
        CHECK(ran.exitCode == ExitCode::Message);
        CHECK(ran.out.empty());
        CHECK(ran.err == Replaced(err, "CONSOLE", console.devicePath()));
    }
    CHECK(HexText(console.readAll(50ms)).empty());
}
