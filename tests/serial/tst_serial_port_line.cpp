#include "scripted_backend.h"
#include "scripted_sockets.h"
#include "serial/network/network_line.h"

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

namespace {

struct NetworkRow
{
    std::string_view name;
    std::string_view address;
    ServerScript server;
    std::string message; // after the address and a blank
    std::chrono::milliseconds ends; // from the open to the connection's close, on the test's clock
    bool frameSent = false;
    FailureReason reason = FailureReason::Other;
};

constexpr std::string_view telnetGreeting = "FF FB 03 FF FD 03 FF FB 01 FF FD 00 FF FB 00 FF FD 2C";
constexpr std::string_view purge = "FF FA 2C 0C 02 FF F0";

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at + 1 < text.size(); at += 3)
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(at, 2)), nullptr, 16)));
    return bytes;
}

std::vector<std::uint8_t> Words(std::string_view text)
{
    return {text.begin(), text.end()};
}

ServerScript Ser2net()
{
    return {.greeting = Bytes(telnetGreeting), .agreesToComPort = true};
}

} // namespace

// The network backend in the same cycle, over sockets scripted as a server would behave: the
// words it is told, when it ends, and whether the frame went out at all.
TEST_CASE("The network cycle: sent only once the frame was handed over, nothing to a server of "
          "another protocol, every wait within the press's time")
{
    // 2400 8N1: two bytes take 8.3 ms on the wire, held 9 ms and the margin before the half-close.
    const auto held = 9ms + HandOverMargin;
    ServerScript held_port = Ser2net();
    held_port.greeting = Bytes(std::string(telnetGreeting) + " ");
    for (const char c : std::string_view("Port already in use\r\n"))
        held_port.greeting.push_back(static_cast<std::uint8_t>(c));
    held_port.agreesToComPort = false;
    held_port.close = ServerScript::Close::AtConnect;
    const std::string silent = "said nothing within 1 second of the connect, where an RFC 2217 "
                               "server opens its negotiation, so nothing was sent: a raw TCP port "
                               "takes socket://, and a server that waits for its client takes "
                               "rfc2217://h:1?client-first";
    const NetworkRow rows[] {
        {"rfc2217: a healthy server: handed over after the wire time and the margin",
            "rfc2217://h:1", Ser2net(), "", held, true},
        {"rfc2217: confirmed at once, so no greeting wait", "rfc2217://h:1?client-first",
            {.agreesToComPort = true}, "", held, true},
        {"socket: a raw port: sent after the telnet probe", "socket://h:1", {}, "",
            TelnetProbeWait + held, true},
        {"socket: a banner and no close is no refusal", "socket://h:1",
            {.greeting = Words("Welcome\r\n")}, "", TelnetProbeWait + held, true},
        {"rfc2217: a held port: its words quoted at once, nothing sent", "rfc2217://h:1", held_port,
            "said \"Port already in use\" and closed the connection before the far "
            "port was set up",
            0ms},
        {"socket: a held port: its words quoted at once, nothing sent", "socket://h:1",
            {.greeting = Words("Port already in use\r\n"), .close = ServerScript::Close::AtConnect},
            "said \"Port already in use\" and closed the connection before the frame was sent",
            0ms},
        {"socket: closed at accept: at once", "socket://h:1",
            {.close = ServerScript::Close::AtConnect},
            "closed the connection before the frame was sent", 0ms},
        {"socket: closed within the probe: when it closes", "socket://h:1",
            {.close = ServerScript::Close::AtConnect, .closeAfter = 12ms},
            "closed the connection before the frame was sent", 12ms},
        {"socket: a server of telnet: refused, nothing sent", "socket://h:1", Ser2net(),
            "speaks telnet, so nothing was sent: a server of RFC 2217 takes rfc2217://h:1", 0ms},
        {"rfc2217: a raw port: not a byte sent", "rfc2217://h:1", {}, silent, 1000ms},
        {"rfc2217: a raw port that closes: not a byte sent", "rfc2217://h:1",
            {.close = ServerScript::Close::AtConnect, .closeAfter = 300ms},
            "closed the connection before the far port was set up", 300ms},
        {"rfc2217: words and no telnet: not a byte sent", "rfc2217://h:1",
            {.greeting = Words("SSH-2.0-x\r\n")},
            "answered \"SSH-2.0-x\" and no telnet within 1 second of the connect, where an RFC "
            "2217 server opens its negotiation, so nothing was sent: a raw TCP port takes "
            "socket://, and a server that waits for its client takes rfc2217://h:1?client-first",
            1000ms},
        {"rfc2217 client first: never answered: the press's time", "rfc2217://h:1?client-first", {},
            "did not answer the telnet negotiation within 5 seconds; a server that sends no "
            "telnet at all takes socket:// instead",
            5000ms, false, FailureReason::ServerTimeout},
        {"rfc2217: the option refused", "rfc2217://h:1", {.greeting = Bytes("FF FE 2C")},
            "refuses the com port option (RFC 2217) that sets the far port's line, so nothing "
            "was sent",
            0ms},
        {"rfc2217: 9600 confirmed: nothing sent", "rfc2217://h:1",
            {.greeting = Bytes(telnetGreeting), .agreesToComPort = true, .baudRate = 9600},
            "set the baud rate to 9600 instead of 2400, so nothing was sent", 0ms},
        {"rfc2217: never confirmed: the press's time", "rfc2217://h:1",
            {.greeting = Bytes(telnetGreeting), .agreesToComPort = true, .confirms = false},
            "did not confirm the baud rate, the data size, the parity, the stop size within 5 "
            "seconds",
            5000ms, false, FailureReason::ServerTimeout},
        {"rfc2217: a server that never stops sending: the press's time", "rfc2217://h:1",
            {.greeting = Bytes("FF FA 2C"), .neverStopsSending = true},
            "did not confirm the com port option, binary transmission within 5 seconds", 5000ms,
            false, FailureReason::ServerTimeout},
        {"closed after the frame, before its wire time: it may not have arrived", "socket://h:1",
            {.close = ServerScript::Close::AfterFrame, .closeAfter = 5ms},
            "closed the connection before the frame had time to leave the far port, so it may "
            "not have reached the board",
            TelnetProbeWait + 5ms, true},
        {"reset at the hand-over", "socket://h:1", {.close = ServerScript::Close::ResetAfterClient},
            "reset the connection as the frame was handed over, so it may not have reached the "
            "board",
            TelnetProbeWait + held, true},
        {"keeps its side open, every byte acknowledged: sent", "socket://h:1",
            {.close = ServerScript::Close::Never}, "", TelnetProbeWait + held + ServerCloseWait,
            true},
        {"keeps its side open, the frame never acknowledged: the press's time", "socket://h:1",
            {.close = ServerScript::Close::Never, .unacknowledged = 2},
            "stopped reading: it did not take the frame within 5 seconds", 5000ms, true,
            FailureReason::ServerTimeout},
        {"takes nothing: the press's time", "socket://h:1", {.stopsReading = true},
            "stopped reading: it did not take what was sent within 5 seconds", 5000ms, false,
            FailureReason::ServerTimeout},
        {"never answers the connect: the press's time", "socket://h:1",
            {.connect = ServerScript::Connect::NeverAnswers},
            "did not accept the connection within 5 seconds", 5000ms, false,
            FailureReason::ServerTimeout},
        {"refused", "socket://h:1", {.connect = ServerScript::Connect::Refuses},
            "refused the connection: nothing listens on port 1", 0ms},
    };
    for (const NetworkRow &row : rows) {
        INFO(row.name);
        SocketRecord record;
        const auto opened = record.now;
        LineClock clock {[&record] { return record.now; },
            [&record](std::chrono::milliseconds duration) { record.now += duration; }};
        auto sockets = std::make_shared<ScriptedSockets>(
            row.server, record, std::vector<std::uint8_t>(frame.begin(), frame.end()));
        SerialPortLine line(
            std::make_unique<NetworkBackend>(*ParseNetworkAddress(row.address).address, sockets),
            OneDevice {std::string(row.address)}, std::move(clock));
        const CycleEnd end = RunCycle(line, 1);
        CHECK(end.message
            == (row.message.empty() ? "" : std::string(row.address) + " " + row.message));
        CHECK(end.reason == row.reason);
        CHECK(record.frameSent.has_value() == row.frameSent);
        const auto ended = record.closed.value_or(record.now);
        CHECK(std::chrono::duration_cast<std::chrono::milliseconds>(ended - opened) == row.ends);
        if (row.message.empty()) { // the frame was held for its time on the far port's wire
            REQUIRE(record.shutDown.has_value());
            CHECK(*record.shutDown - *record.frameSent >= held);
        }
        // Not a byte to a server that did not show it speaks telnet, or that refused at once.
        const bool spokeTelnet = row.address.starts_with("rfc2217") && !row.server.greeting.empty()
            && row.server.greeting[0] == 0xFF && row.server.close != ServerScript::Close::AtConnect;
        if (!row.frameSent && !spokeTelnet && !row.address.ends_with("?client-first"))
            CHECK(HexText(record.sent).empty());
        const bool agreed = HexText(record.sent).find("FF FB 2C") != std::string::npos;
        const bool purged = HexText(record.sent).ends_with(purge);
        CHECK(purged
            == (agreed && row.server.agreesToComPort && !row.frameSent && !end.message.empty()));
    }
}
