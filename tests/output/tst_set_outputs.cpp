#include "hex_text.h"
#include "output/set_outputs.h"
#include "serial/serial_line.h"
#include "table_test.h"

#include <string>
#include <string_view>

using namespace ostrim;
using namespace ostrim::test;

namespace {

// Every step of the action, as "read port, port 1, settings 2400,N,8,1, ...", to check their order.
class Log
{
public:
    void Add(const std::string &step) { m_text += (m_text.empty() ? "" : ", ") + step; }
    void AddToLast(const std::string &more) { m_text += more; }
    const std::string &Text() const { return m_text; }

private:
    std::string m_text;
};

// Stands in for a face: hands out the entries, noting each read; the four outputs read in turn
// show as "read outputs 1234".
class ScriptedEntries final : public ActionEntries
{
public:
    ScriptedEntries(Log &log, std::string port, std::string address, OutputStates states)
        : m_log(log)
        , m_given(std::move(port), std::move(address), states)
    { }

    std::string PortText() const override
    {
        m_log.Add("read port");
        return m_given.PortText();
    }
    std::string AddressText() const override
    {
        m_log.Add("read address");
        return m_given.AddressText();
    }
    std::int16_t OutputState(int index) const override
    {
        if (index == 0)
            m_log.Add("read outputs ");
        m_log.AddToLast(std::to_string(index + 1));
        return m_given.OutputState(index);
    }

private:
    Log &m_log;
    GivenEntries m_given;
};

// A fake line, for the order of the calls and for failures no real port can be made to produce on
// demand, such as a close that fails and leaves the port open. failing: the steps that fail, e.g.
// "write, close".
class FakeLine final : public SerialLine
{
public:
    FakeLine(Log &log, std::string_view failing)
        : m_log(log)
        , m_failing(failing)
    { }

    void SetPortNumber(std::int16_t number) override
    {
        m_log.Add("port " + std::to_string(number));
        if (number < 1)
            throw ActionError(FailureKind::SerialLine, "Invalid port number");
    }
    void SetSettings(const std::string &settings) override
    {
        m_log.Add("settings " + settings);
        FailIf("settings");
    }
    void Open() override
    {
        m_log.Add("open");
        FailIf("open");
        m_open = true;
    }
    void Write(std::span<const std::uint8_t> bytes) override
    {
        m_log.Add("write " + HexText(bytes));
        FailIf("write");
    }
    void Close() override
    {
        m_log.Add("close");
        FailIf("close"); // and the port stays open
        m_open = false;
    }
    bool IsOpen() const override
    {
        m_log.Add("is open?");
        FailIf("is open?");
        return m_open;
    }
    std::string Device() const override { return "/dev/fake"; }

private:
    void FailIf(const std::string &step) const
    {
        if ((", " + std::string(m_failing) + ",").find(", " + step + ",") != std::string::npos)
            throw ActionError(FailureKind::SerialLine, step + " failed");
    }

    Log &m_log;
    std::string_view m_failing;
    bool m_open = false;
};

struct Ran
{
    std::string steps;
    ActionOutcome outcome;
};

Ran Run(const std::string &port, const std::string &address, OutputStates states,
    std::string_view failing = {})
{
    Log log;
    FakeLine line(log, failing);
    ActionOutcome outcome = SetOutputs(ScriptedEntries(log, port, address, states), line);
    // A face shows one message for every ending but the frame sent, once the action is done.
    if (outcome.ending != Ending::Sent)
        log.Add("message");
    return {log.Text(), std::move(outcome)};
}

std::string UpToAddress(int port)
{
    return "read port, port " + std::to_string(port)
        + ", settings 2400,N,8,1, read outputs 1234, read address";
}

constexpr OutputStates outputs1And3 {1, 0, 1, 0};

} // namespace

TEST_CASE("The entries are read and judged step by step; nothing reaches the line before its "
          "step, and the frame goes where the line was last told")
{
    struct Row
    {
        std::string_view port;
        std::string_view address;
        OutputStates states;
        std::string steps;
        std::string_view message; // its start; empty: the frame was sent
    };
    const std::string sent07A0 = ", open, write 07 A0, close";
    const std::string failed = ", is open?, message";
    const Row rows[] {
        {"1", "7", outputs1And3, UpToAddress(1) + sent07A0, ""},
        {"", "", {1, 1, 1, 1}, "read port, message", "Invalid communications port"},
        {"0", "7", outputs1And3, "read port, message", "Invalid communications port"},
        {"-1", "7", outputs1And3, "read port, message", "Invalid communications port"},
        {"abc", "7", outputs1And3, "read port, message", "Invalid communications port"},
        {"3", "", outputs1And3, UpToAddress(3) + ", message", "Invalid board address"},
        {"3", "-4", outputs1And3, UpToAddress(3) + ", message", "Invalid board address"},
        {"  2", "7", outputs1And3, UpToAddress(2) + sent07A0, ""},
        {"1abc", "7", outputs1And3, UpToAddress(1) + sent07A0, ""},
        {"2.5", "7", outputs1And3, UpToAddress(2) + sent07A0, ""},
        {"3.5", "7", outputs1And3, UpToAddress(4) + sent07A0, ""},
        {"0.4", "7", outputs1And3, "read port, port 0" + failed, "Invalid port number"},
        {"70000", "7", outputs1And3, "read port" + failed, "Port 70000 is too large"},
        {"1e400", "7", outputs1And3, "read port" + failed, "Port 1e400 is too large"},
        {"1", "7", {256, 0, 0, 0},
            "read port, port 1, settings 2400,N,8,1, read outputs 1234" + failed, "Overflow"},
        {"1", "300", {2, 0, 0, 0}, UpToAddress(1) + failed, "Board address 300 is too large"},
        {"1", "12x", outputs1And3, UpToAddress(1) + failed, "Board address \"12x\" is not"},
        {"1", "255.5", outputs1And3, UpToAddress(1) + failed, "Board address 255.5 is too large"},
        {"1", "254.5", {0, 0, 0, 0}, UpToAddress(1) + ", open, write FE 00, close", ""},
        {"1", "0.4", {1, 1, 1, 1}, UpToAddress(1) + ", open, write 00 F0, close", ""},
    };
    for (const Row &row : rows) {
        INFO("port '" << row.port << "' address '" << row.address << "'");
        const Ran ran = Run(std::string(row.port), std::string(row.address), row.states);
        CHECK(ran.steps == row.steps);
        CHECK(ran.outcome.message.starts_with(row.message));
        if (row.message.empty()) {
            const std::string lastPort = ran.steps.substr(ran.steps.rfind("port "));
            CHECK(lastPort.starts_with("port " + std::to_string(ran.outcome.portNumber) + ","));
            CHECK(ran.outcome.device == "/dev/fake");
        }
    }
}

TEST_CASE("A failing line ends the action with its message and the port closed; a failure while "
          "closing is told as well")
{
    struct Row
    {
        std::string_view failing;
        std::string steps; // after the address
        std::string_view message;
    };
    const Row rows[] {
        {"open", ", open, is open?, message", "open failed"},
        {"write", ", open, write 07 A0, is open?, close, message", "write failed"},
        {"close", ", open, write 07 A0, close, is open?, close, message",
            "close failed\nThe port could not be closed: close failed"},
        {"write, is open?", ", open, write 07 A0, is open?, message",
            "write failed\nThe port could not be closed: is open? failed"},
    };
    for (const Row &row : rows) {
        INFO(row.failing);
        const Ran ran = Run("1", "7", outputs1And3, row.failing);
        CHECK(ran.steps == UpToAddress(1) + row.steps);
        CHECK(ran.outcome.message == row.message);
        CHECK(ran.outcome.ending == Ending::Failed);
    }
    CHECK(Run("1", "7", outputs1And3, "settings").steps
        == "read port, port 1, settings 2400,N,8,1, is open?, message");
}

// An entry's failure names the entry and what it takes; its kind and number stay those of the
// reading, for scripts. The mask fails in the same step as the address, and is not blamed on it.
TEST_CASE("A failed reading is told in the user's terms, keeping its kind and number")
{
    struct Row
    {
        std::string_view port;
        std::string_view address;
        OutputStates states;
        std::string_view kind;
        std::string_view message;
    };
    constexpr Row rows[] {
        {"70000", "7", {}, "overflow", "Port 70000 is too large: the highest port is 32767."},
        {"-1e400", "7", {}, "overflow", "Port -1e400 is too small: ports are numbered from 1."},
        {"1", " 300 ", {}, "invalid argument",
            "Board address 300 is too large: the highest address is 255."},
        {"1", "99999999999", {}, "overflow",
            "Board address 99999999999 is too large: the highest address is 255."},
        {"1", "7 8", {}, "type mismatch", "Board address \"7 8\" is not a number."},
        {"1", "7", {2, 0, 0, 0}, "invalid argument",
            "Invalid argument: 256 is outside the byte range 0 to 255"},
    };
    for (const Row &row : rows) {
        INFO("port '" << row.port << "' address '" << row.address << "'");
        const ActionOutcome outcome
            = Run(std::string(row.port), std::string(row.address), row.states).outcome;
        REQUIRE(outcome.failure);
        CHECK(KindName(outcome.failure->kind()) == row.kind);
        CHECK(outcome.failure->number() == static_cast<int>(outcome.failure->kind()));
        CHECK(outcome.message == row.message);
    }
}
