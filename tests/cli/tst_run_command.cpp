#include "cli/run_command.h"
#include "fake_line.h"
#include "ostrim_version.h"
#include "table_test.h"

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

using namespace ostrim;

namespace {

struct Ran
{
    int exitCode = -1;
    std::string out;
    std::string err;
    std::string calls; // the line's, e.g. "port 1, settings 2400,N,8,1, open, ..."
    int linesMade = 0;
};

// openFailure: the message of an open that fails because another program holds the port.
Ran Run(std::vector<std::string> arguments, std::string_view openFailure = {})
{
    arguments.insert(arguments.begin(), "ostrim");
    Ran ran;
    const CommandSystem system {
        [&](const std::string &device) {
            ++ran.linesMade;
            auto line = std::make_unique<test::FakeLine>([&ran](const std::string &call) {
                ran.calls += (ran.calls.empty() ? "" : ", ") + call;
            });
            if (!device.empty())
                line->NameDevice(device);
            if (!openFailure.empty())
                line->Fail("open",
                    ActionError(FailureKind::SerialLine, 16, std::string(openFailure),
                        FailureReason::InUse));
            return line;
        },
        [] { return std::string("1 = /dev/fake1\n"); },
    };
    std::ostringstream out;
    std::ostringstream err;
    ran.exitCode = RunCommand(ParseCommandLine(arguments), system, out, err);
    ran.out = out.str();
    ran.err = err.str();
    return ran;
}

} // namespace

TEST_CASE("Each command ends in its exit code, with results on standard output and messages, "
          "each line marked, on standard error")
{
    struct Row
    {
        std::string_view name;
        std::vector<std::string> arguments;
        std::string_view openFailure;
        int exitCode;
        std::string out;
        std::string err;
        std::string calls;
    };
    const auto sent = [](int port, const std::string &frame) {
        return "port " + std::to_string(port) + ", settings 2400,N,8,1, open, write " + frame
            + ", close";
    };
    const Row rows[] {
        {"sent: silent", {"-p", "1", "-a", "7", "-o", "1,3"}, {}, 0, "", "", sent(1, "07 A0")},
        {"sent, verbose: the frame, the port and its device",
            {"-p", "2", "-a", "255", "-o", "4", "--verbose"}, {}, 0,
            "Sent FF 10 to port 2 (/dev/fake2)\n", "", sent(2, "FF 10")},
        {"sent to a device: named alone, it has no port number",
            {"-d", "/dev/serial/by-id/usb-x", "-a", "7", "-o", "2", "--verbose"}, {}, 0,
            "Sent 07 40 to /dev/serial/by-id/usb-x\n", "", sent(1, "07 40")},
        {"the line refuses: its message and what to do, each line marked", {"-p", "1", "-a", "7"},
            "Port 1 is in use.\nHeld since noon.", 1, "",
            "ostrim: Port 1 is in use.\nostrim: Held since noon. Close it and try again.\n",
            "port 1, settings 2400,N,8,1, open, is open?"},
        {"the version", {"--version"}, {}, 0, "Ostrim " + std::string(VersionText) + "\n", "", ""},
        {"the port list", {"--list-ports"}, {}, 0, "1 = /dev/fake1\n", "", ""},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const Ran ran = Run(row.arguments, row.openFailure);
        CHECK(ran.exitCode == row.exitCode);
        CHECK(ran.out == row.out);
        CHECK(ran.err == row.err);
        CHECK(ran.calls == row.calls);
    }
}

TEST_CASE("Every mistake on the command line is told, ends in exit code 2 and opens nothing")
{
    struct Row
    {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::string needBoth
        = "--port and --address are both needed to send (or --device in place of --port)";
    const std::string onList = "--on takes outputs 1 to 4 separated by commas, not ";
    const Row rows[] {
        // Numbers as a script writes them, or nothing sent.
        {{"-p", "1x", "-a", "7"}, "--port takes a whole number from 1 to 32767, not '1x'"},
        {{"-p", "1 2", "-a", "7"}, "--port takes a whole number from 1 to 32767, not '1 2'"},
        {{"-p", "1,5", "-a", "7"}, "--port takes a whole number from 1 to 32767, not '1,5'"},
        {{"-p", "", "-a", "7"}, "--port takes a whole number from 1 to 32767, not ''"},
        {{"--port=", "-a", "7"}, "--port takes a whole number from 1 to 32767, not ''"},
        {{"-p", "0", "-a", "7"}, "--port takes a whole number from 1 to 32767, not '0'"},
        {{"-p", "32768", "-a", "7"}, "--port takes a whole number from 1 to 32767, not '32768'"},
        {{"-p", "99999999999", "-a", "7"},
            "--port takes a whole number from 1 to 32767, not '99999999999'"},
        {{"-p", "+1", "-a", "7"}, "--port takes a whole number from 1 to 32767, not '+1'"},
        {{"-p", "\xEF\xBC\x91", "-a", "7"}, // a full-width digit one
            "--port takes a whole number from 1 to 32767, not '\xEF\xBC\x91'"},
        {{"-p", "1", "-a", "7.5"}, "--address takes a whole number from 1 to 255, not '7.5'"},
        {{"-p", "1", "-a", "1e1"}, "--address takes a whole number from 1 to 255, not '1e1'"},
        {{"-p", "1", "-a", "abc"}, "--address takes a whole number from 1 to 255, not 'abc'"},
        {{"-p", "1", "-a", "-3"}, "--address takes a whole number from 1 to 255, not '-3'"},
        {{"-p", "1", "-a", "256"}, "--address takes a whole number from 1 to 255, not '256'"},
        {{"-p", "1", "-a", "0x10"}, "--address takes a whole number from 1 to 255, not '0x10'"},
        {{"-d", "COM3", "-a", " "}, "--address takes a whole number from 1 to 255, not ' '"},
        {{"--address=7=8", "-p", "1"}, "--address takes a whole number from 1 to 255, not '7=8'"},
        {{"--device", "", "--address", "7"},
            "--device takes the path of a serial device, not an empty text"},
        // No option is ever left unheeded.
        {{"-p", "1", "-a", "7", "-o", "2", "-V"}, "--version takes no other option"},
        {{"--version", "--list-ports"}, "--version takes no other option"},
        {{"-p", "1", "-a", "7", "--help"}, "--help takes no other option"},
        {{"--on", "9", "-h"}, "--help takes no other option"},
        {{"--help", "--version"}, "--help takes no other option"},
#ifdef _WIN32
        {{"/?", "-p", "1"}, "--help takes no other option"},
        {{"-v", "-?"}, "--help takes no other option"},
        // The parser's own reading of "/port" as --port is not ours.
        {{"/port", "3", "/address", "7"}, "Unknown option '/port'."},
        {{"-p", "3", "-a", "7", "/on", "1"}, "Unknown option '/on'."},
#else
        {{"/?"}, "unexpected argument '/?'"},
        {{"-?"}, "Unknown option '?'."},
#endif
        {{"--list-ports", "--port", "1"}, "--list-ports takes no other option"},
        {{"--list-ports", "--device", "/dev/ttyUSB0"}, "--list-ports takes no other option"},
        {{"--list-ports", "-v"}, "--list-ports takes no other option"},
        // Options that conflict, are missing or are given twice.
        {{"--port", "1", "--device", "/dev/ttyUSB0", "--address", "7"},
            "--port and --device cannot be given together: give one of them"},
        {{"--port", "1"}, needBoth},
        {{"--address", "7"}, needBoth},
        {{"--device", "/dev/ttyUSB0"}, needBoth},
        {{"--on", "1"}, needBoth},
        {{"--verbose"}, needBoth},
        {{"--address", "--port=1"}, needBoth},
        {{"--port", "1", "--address", "7", "--on", "1", "--on", "2"},
            "--on is given more than once"},
        {{"--port", "1", "--address", "7", "--port", "2"}, "--port is given more than once"},
        {{"--port", "1", "--address", "7", "-a", "2"}, "--address is given more than once"},
        {{"--device", "/dev/ttyUSB0", "--address", "7", "-d", "/dev/ttyUSB1"},
            "--device is given more than once"},
        // Outputs, unknown options and stray arguments.
        {{"-p", "1", "-a", "7", "-o", "5"}, onList + "'5'"},
        {{"-p", "1", "-a", "7", "-o", "0"}, onList + "'0'"},
        {{"-p", "1", "-a", "7", "-o", "12"}, onList + "'12'"},
        {{"-p", "1", "-a", "7", "-o", "1,,3"}, onList + "'1,,3'"},
        {{"-p", "1", "-a", "7", "-o", "1;3"}, onList + "'1;3'"},
        {{"-p", "1", "-a", "7", "-o", "1,"}, onList + "'1,'"},
        {{"--port", "1", "--address", "7", "--baud", "9600"}, "Unknown option 'baud'."},
        {{"--port", "1", "--address", "7", "7"}, "unexpected argument '7'"},
        {{"--port", "1", "--address", "7", "--", "--on"}, "unexpected argument '--on'"},
        {{"--address", "7", "--port"}, "Missing value after '--port'."},
        {{"--"}, "nothing to do"},
    };
    for (const Row &row : rows) {
        std::string joined;
        for (const std::string &argument : row.arguments)
            joined += "'" + argument + "' ";
        INFO(joined);
        const Ran ran = Run(row.arguments);
        CHECK(ran.exitCode == ExitCode::Usage);
        CHECK(
            ran.err == "ostrim: " + row.message + "\nTry 'ostrim --help' for more information.\n");
        CHECK(ran.out.empty());
        CHECK(ran.linesMade == 0);
    }
}

TEST_CASE("The help names every option, the exit codes and examples")
{
    const Ran help = Run({"--help"});
    CHECK(help.exitCode == 0);
    CHECK(help.err.empty());
    for (const std::string part : {"--help", "--version", "--list-ports", "--port", "--device",
             "--address", "--on", "--verbose", "Exit codes:", "Examples:", "ostrim --device ",
             "ostrim --device rfc2217://"}) {
        INFO(part);
        CHECK(help.out.find(part) != std::string::npos);
    }
}

// `ostrim --list-ports >&-` in a script: nothing reached the reader, so no success.
TEST_CASE("Output that cannot be written is no success")
{
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::ostringstream err;
    const int exitCode
        = RunCommand(ParseCommandLine({"ostrim", "--version"}), CommandSystem {}, out, err);
    CHECK(exitCode == ExitCode::Message);
    CHECK(err.str() == "ostrim: cannot write to standard output\n");
}
