#include "cli/run_command.h"
#include "hex_text.h"
#include "ostrim_version.h"
#include "table_test.h"

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

using namespace ostrim;

namespace {

// A fake line: notes on the wire what was written where, and fails at the open where told to.
class FakeLine final : public SerialLine
{
public:
    FakeLine(std::string &wire, std::string device, std::string_view openFailure)
        : m_wire(wire)
        , m_device(std::move(device))
        , m_openFailure(openFailure)
    { }

    void SetPortNumber(std::int16_t number) override { m_port = number; }
    void SetSettings(const std::string &) override { }
    void Open() override
    {
        if (!m_openFailure.empty())
            throw ActionError(FailureKind::SerialLine, 16, m_openFailure, FailureReason::InUse);
        m_open = true;
    }
    void Write(std::span<const std::uint8_t> bytes) override
    {
        m_wire += HexText(bytes) + " to " + Device();
    }
    void Close() override { m_open = false; }
    bool IsOpen() const override { return m_open; }
    std::string Device() const override
    {
        return m_device.empty() ? "/dev/fake" + std::to_string(m_port) : m_device;
    }

private:
    std::string &m_wire;
    std::string m_device;
    std::string m_openFailure;
    std::int16_t m_port = 0;
    bool m_open = false;
};

struct Ran
{
    int exitCode = -1;
    std::string out;
    std::string err;
    std::string wire;
};

Ran Run(std::vector<std::string> arguments, std::string_view openFailure = {})
{
    arguments.insert(arguments.begin(), "ostrim");
    Ran ran;
    const CommandSystem system {
        [&](const std::string &device) {
            return std::make_unique<FakeLine>(ran.wire, device, openFailure);
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
        std::string_view wire;
    };
    const std::string usage = "\nTry 'ostrim --help' for more information.\n";
    const Row rows[] {
        {"sent: silent", {"-p", "1", "-a", "7", "-o", "1,3"}, {}, 0, "", "", "07 A0 to /dev/fake1"},
        {"sent, verbose: the frame, the port and its device",
            {"-p", "2", "-a", "255", "-o", "4", "--verbose"}, {}, 0,
            "Sent FF 10 to port 2 (/dev/fake2)\n", "", "FF 10 to /dev/fake2"},
        {"sent to a device: named alone, it has no port number",
            {"-d", "/dev/serial/by-id/usb-x", "-a", "7", "-o", "2", "--verbose"}, {}, 0,
            "Sent 07 40 to /dev/serial/by-id/usb-x\n", "", "07 40 to /dev/serial/by-id/usb-x"},
        {"the port judged by the action", {"-p", "0", "-a", "7"}, {}, 1, "",
            "ostrim: Invalid communications port\n", ""},
        {"the address judged by the action", {"-p", "1", "-a", "300"}, {}, 1, "",
            "ostrim: Board address 300 is too large: the highest address is 255.\n", ""},
        {"the line refuses: its message and what to do, each line marked", {"-p", "1", "-a", "7"},
            "Port 1 is in use.\nHeld since noon.", 1, "",
            "ostrim: Port 1 is in use.\nostrim: Held since noon. Close it and try again.\n", ""},
        {"a usage error: what is wrong and where to look", {"-p", "1", "-a", "7", "-o", "5"}, {}, 2,
            "", "ostrim: --on takes outputs 1 to 4 separated by commas, not '5'" + usage, ""},
        {"the version", {"--version"}, {}, 0, "Ostrim " + std::string(VersionText) + "\n", "", ""},
        {"the port list", {"--list-ports"}, {}, 0, "1 = /dev/fake1\n", "", ""},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const Ran ran = Run(row.arguments, row.openFailure);
        CHECK(ran.exitCode == row.exitCode);
        CHECK(ran.out == row.out);
        CHECK(ran.err == row.err);
        CHECK(ran.wire == row.wire);
    }
}

TEST_CASE("The help names every option, the exit codes and examples")
{
    const Ran help = Run({"--help"});
    CHECK(help.exitCode == 0);
    CHECK(help.err.empty());
    for (const std::string part : {"--help", "--version", "--list-ports", "--port", "--device",
             "--address", "--on", "--verbose", "Exit codes:", "Examples:", "ostrim --device "}) {
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
