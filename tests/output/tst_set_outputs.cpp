#include "fake_line.h"
#include "output/set_outputs.h"
#include "serial/serial_line.h"
#include "table_test.h"

#include <string>
#include <string_view>
#include <vector>

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

struct Ran
{
    std::string steps;
    ActionOutcome outcome;
};

// failing: the line's calls that fail, e.g. {"write", "close"}.
Ran Run(const std::string &port, const std::string &address, OutputStates states,
    const std::vector<std::string> &failing = {})
{
    Log log;
    FakeLine line([&log](const std::string &call) { log.Add(call); });
    for (const std::string &call : failing)
        line.Fail(call);
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
        {"3", "", outputs1And3, UpToAddress(3) + ", message", "Invalid board address"},
        {"3", "-4", outputs1And3, UpToAddress(3) + ", message", "Invalid board address"},
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
        // The fake names its device after the port it was last given.
        if (row.message.empty())
            CHECK(ran.outcome.device == "/dev/fake" + std::to_string(ran.outcome.portNumber));
    }
}

TEST_CASE("A failing line ends the action with its message and the port closed; a failure while "
          "closing is told as well")
{
    struct Row
    {
        std::vector<std::string> failing;
        std::string steps; // after the address
        std::string_view message;
    };
    const Row rows[] {
        {{"open"}, ", open, is open?, message", "open failed"},
        {{"write"}, ", open, write 07 A0, is open?, close, message", "write failed"},
        {{"close"}, ", open, write 07 A0, close, is open?, close, message",
            "close failed\nThe port could not be closed: close failed"},
        {{"write", "is open?"}, ", open, write 07 A0, is open?, message",
            "write failed\nThe port could not be closed: is open? failed"},
    };
    for (const Row &row : rows) {
        INFO(row.message);
        const Ran ran = Run("1", "7", outputs1And3, row.failing);
        CHECK(ran.steps == UpToAddress(1) + row.steps);
        CHECK(ran.outcome.message == row.message);
        CHECK(ran.outcome.ending == Ending::Failed);
    }
    CHECK(Run("1", "7", outputs1And3, {"settings"}).steps
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
