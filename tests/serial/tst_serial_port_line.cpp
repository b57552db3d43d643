#include "scripted_backend.h"

#include <array>

#include <doctest.h>

using namespace ostrim;
using namespace ostrim::test;
using namespace std::chrono_literals;

namespace {

LineFailure Failure(std::string what, FailureReason reason = FailureReason::Other,
    LineFailure::Named named = LineFailure::Named::Port)
{
    return {std::move(what), 9, reason, {}, named};
}

constexpr std::array<std::uint8_t, 2> frame {0x07, 0xA0};
const std::string configured = "find 3, open tty3 within 1000 ms, configure 2400 baud, "
                               "8 data bits, no parity, 1 stop bit";
const std::string abandoned = "discard, give back";
// A backend whose whole press, the open included, is bounded by one time, as a network one's is.
constexpr LineBudget pressOfFive {5s, 5s, 5s};

} // namespace

// One cycle each: what the user is told, and what the backend was asked, in order.
TEST_CASE(
    "The cycle: the frame sent within one deadline from the write, the port always given back")
{
    struct Row
    {
        std::string_view name;
        BackendScript script;
        std::string message;
        std::string log;
        FailureReason reason = FailureReason::Other;
        std::optional<std::string> device {};
    };
    const std::string sent = configured + ", write 2 within 1000 ms, drain 2, give back";
    const std::string written = configured + ", write 2 within 1000 ms, ";
    const std::string timedOut = "Port 3 (tty3) did not send the frame within 1 second, so it was "
                                 "discarded.";
    const Row rows[] {
        {"sent, and given back", {}, "", sent},
        {"no such port: nothing opened",
            {.findFails = Failure("does not exist. This system has no serial port",
                 FailureReason::Missing, LineFailure::Named::Number)},
            "Port 3 does not exist. This system has no serial port", "find 3",
            FailureReason::Missing},
        {"refused at the open: nothing given back",
            {.openFails = Failure("is in use by another program", FailureReason::InUse)},
            "Port 3 (tty3) is in use by another program.", "find 3, open tty3 within 1000 ms",
            FailureReason::InUse},
        {"settings refused: discarded and given back",
            {.configureFails = Failure("cannot be set to 2400 baud")},
            "Port 3 (tty3) cannot be set to 2400 baud.", configured + ", " + abandoned},
        {"a write refused: discarded and given back",
            {.writeFails = Failure("could not be written")}, "Port 3 (tty3) could not be written.",
            written + abandoned},
        {"a write that stalls: discarded at the deadline", {.writeTakes = 1500ms}, timedOut,
            written + abandoned, FailureReason::Timeout},
        {"a queue that empties in time", {.queuedPolls = 900}, "", sent},
        {"a queue that never empties: discarded at the deadline", {.queuedPolls = -1}, timedOut,
            written + abandoned, FailureReason::Timeout},
        {"a slow write leaves the drain only the rest of the deadline",
            {.writeTakes = 600ms, .queuedPolls = 600}, timedOut, written + abandoned,
            FailureReason::Timeout},
        {"a slow open does not shorten the deadline", {.configureTakes = 900ms, .queuedPolls = 900},
            "", sent},
        {"a queue that cannot be read: discarded", {.queueFails = Failure("was disconnected")},
            "Port 3 (tty3) was disconnected.", written + abandoned},
        {"a queue that cannot be known: drained at once", {.queueUnknown = true}, "", sent},
        {"a drain that fails: discarded", {.drainFails = Failure("was disconnected")},
            "Port 3 (tty3) was disconnected.", written + "drain 2, " + abandoned},
        {"a budget of the backend's own: its open and send limits", {.budget = pressOfFive}, "",
            "find 3, open tty3 within 5000 ms, configure 2400 baud, 8 data bits, no parity, 1 stop "
            "bit, write 2 within 5000 ms, drain 2, give back"},
        {"a slow set-up leaves the send only what is left of the press",
            {.budget = pressOfFive, .configureTakes = 3500ms}, "",
            "find 3, open tty3 within 5000 ms, configure 2400 baud, 8 data bits, no parity, 1 stop "
            "bit, write 2 within 1500 ms, drain 2, give back"},
        {"one device: named alone", {.openFails = Failure("is in use by another program")},
            "/dev/board is in use by another program.",
            "name /dev/board, open /dev/board within 1000 ms", FailureReason::Other, "/dev/board"},
        {"one device that is not there: named alone",
            {.findFails
                = Failure("\"x\" is no port.", FailureReason::Other, LineFailure::Named::Alone)},
            "\"x\" is no port.", "name x", FailureReason::Other, "x"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        ScriptedBackend::Record record;
        SerialPortLine line = ScriptedLine(row.script, record, row.device);
        const CycleEnd end = RunCycle(line, 3);
        CHECK(end.message == row.message);
        CHECK(end.reason == row.reason);
        CHECK(record.log == row.log);
        CHECK_FALSE(line.IsOpen());
        if (record.wrote != ScriptedBackend::Clock::time_point {})
            CHECK(record.released - record.wrote <= row.script.budget.send + 1ms);
        if (row.reason == FailureReason::Timeout) // given up at the deadline, never before
            CHECK(record.released - record.wrote >= row.script.budget.send);
    }
}

TEST_CASE("The line refuses what does not fit its state, and names the port in every refusal")
{
    struct Row
    {
        std::string_view name;
        std::function<void(SerialLine &)> step;
        std::string message;
    };
    const Row rows[] {
        {"port 0", [](SerialLine &line) { line.SetPortNumber(0); },
            "Invalid port number 0: ports are numbered from 1"},
        {"a write before the open", [](SerialLine &line) { line.Write(frame); },
            "Port 1 is not open."},
        {"opened twice",
            [](SerialLine &line) {
                line.Open();
                line.Open();
            },
            "Port 1 (tty1) is already open."},
        {"a new number while open",
            [](SerialLine &line) {
                line.Open();
                line.SetPortNumber(2);
            },
            "Port 1 (tty1) is open, so its number cannot change until it is closed."},
        {"new settings while open",
            [](SerialLine &line) {
                line.Open();
                line.SetSettings("9600,N,8,1");
            },
            "Port 1 (tty1) is open, so its line settings cannot change until it is closed."},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        ScriptedBackend::Record record;
        SerialPortLine line = ScriptedLine({}, record);
        std::string message;
        try {
            row.step(line);
        } catch (const ActionError &error) {
            message = error.message();
        }
        CHECK(message == row.message);
    }
}

TEST_CASE("A line let go while open discards what did not leave and gives the port back")
{
    ScriptedBackend::Record record;
    {
        SerialPortLine line = ScriptedLine({}, record);
        line.Open();
        line.Write(frame);
    }
    CHECK(record.log.ends_with("write 2 within 1000 ms, discard, give back"));
}
