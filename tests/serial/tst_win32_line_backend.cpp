#include "scripted_backend.h"
#include "serial/win32/win32_line_backend.h"
#include "table_test.h"

#include <array>

using namespace ostrim;
using namespace ostrim::test;
using namespace std::chrono_literals;

namespace {

using Clock = SerialPortLine::Clock;

std::string StateText(const DCB &state)
{
    static constexpr std::array parities {'N', 'O', 'E', 'M', 'S'};
    static constexpr std::array stopBits {"1", "1.5", "2"};
    std::string text = std::to_string(state.BaudRate) + ' ' + parities.at(state.Parity)
        + std::to_string(state.ByteSize) + stopBits.at(state.StopBits);
    text += state.fBinary ? " binary" : " text";
    text += state.fDtrControl == DTR_CONTROL_ENABLE ? " DTR on" : " DTR not on";
    text += state.fRtsControl == RTS_CONTROL_ENABLE ? " RTS on" : " RTS not on";
    if (state.fOutxCtsFlow || state.fOutxDsrFlow || state.fDsrSensitivity || state.fOutX
        || state.fInX || state.fDtrControl == DTR_CONTROL_HANDSHAKE
        || state.fRtsControl == RTS_CONTROL_HANDSHAKE || state.fRtsControl == RTS_CONTROL_TOGGLE)
        text += " handshake";
    if (state.fAbortOnError || state.fErrorChar || state.fNull
        || state.fParity != (state.Parity != NOPARITY))
        text += " altered bytes";
    return text;
}

// A port that another program left at 9600 7E2 with every handshake on.
DCB LeftByAnother()
{
    DCB state {};
    state.DCBlength = sizeof state;
    state.BaudRate = 9600;
    state.ByteSize = 7;
    state.Parity = EVENPARITY;
    state.StopBits = TWOSTOPBITS;
    state.fBinary = TRUE;
    state.fParity = TRUE;
    state.fOutxCtsFlow = TRUE;
    state.fOutxDsrFlow = TRUE;
    state.fDtrControl = DTR_CONTROL_HANDSHAKE;
    state.fDsrSensitivity = TRUE;
    state.fOutX = TRUE;
    state.fInX = TRUE;
    state.fRtsControl = RTS_CONTROL_TOGGLE;
    state.fAbortOnError = TRUE;
    state.fNull = TRUE;
    return state;
}

// Stands in for a port's driver where Wine cannot: it logs each call, keeps the state it was
// given, and fails or stalls where the row says. The clock is the test's own and moves only when
// the line reads it or pauses, so a deadline is checked exactly.
struct Script
{
    DWORD openError = ERROR_SUCCESS;
    bool roundsSpeed = false;
    bool keepsHandshake = false;
    bool keepsByteSize = false;
    BoundedWrite writes {2, ERROR_SUCCESS, false};
    int queuedPolls = 0; // how often the output queue still holds bytes
    bool queueUnknown = false;
};

struct ScriptedPort
{
    Script script;
    std::string log;
    DCB state = LeftByAnother();
    COMMTIMEOUTS timeouts {5, 6, 7, 8, 9};
    Clock::time_point now = Clock::time_point {} + 1h;
    Clock::time_point emptied {};
    Clock::time_point released {};
    const HANDLE handle = reinterpret_cast<HANDLE>(0x1234);

    void Note(const std::string &entry) { log += (log.empty() ? "" : ", ") + entry; }

    Win32LineEnvironment Environment()
    {
        Win32LineEnvironment environment;
        CommDriver &driver = environment.driver;
        driver.open = [this](const std::wstring &path) {
            Note("open " + std::string(path.begin(), path.end()));
            ::SetLastError(script.openError);
            return script.openError == ERROR_SUCCESS ? handle : INVALID_HANDLE_VALUE;
        };
        driver.readState = [this](HANDLE, DCB *read) {
            *read = state;
            return TRUE;
        };
        driver.applyState = [this](HANDLE, DCB *asked) {
            Note("set " + StateText(*asked));
            state = *asked;
            const bool ours = asked->BaudRate == 2400;
            if (script.roundsSpeed && ours)
                state.BaudRate = 2404;
            if (script.keepsHandshake && ours)
                state.fOutxCtsFlow = TRUE;
            if (script.keepsByteSize && ours)
                state.ByteSize = 7;
            return TRUE;
        };
        driver.readTimeouts = [this](HANDLE, COMMTIMEOUTS *read) {
            *read = timeouts;
            return TRUE;
        };
        driver.applyTimeouts = [this](HANDLE, COMMTIMEOUTS *asked) {
            timeouts = *asked;
            return TRUE;
        };
        driver.write
            = [this](HANDLE, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) {
                  Note("write " + std::to_string(bytes.size()) + " within "
                      + std::to_string(limit.count()) + " ms");
                  if (script.writes.timedOut)
                      now += limit;
                  return script.writes;
              };
        // A board that answers fills the input queue, which has nothing to do with the frame.
        driver.readStatus = [this](HANDLE, DWORD *errors, COMSTAT *status) {
            if (script.queueUnknown) {
                ::SetLastError(ERROR_BAD_COMMAND);
                return FALSE;
            }
            *errors = 0;
            *status = COMSTAT {};
            status->cbInQue = 5;
            status->cbOutQue = script.queuedPolls > 0 ? 2 : 0;
            if (script.queuedPolls > 0)
                --script.queuedPolls;
            else if (emptied == Clock::time_point {})
                emptied = now;
            return TRUE;
        };
        driver.purge = [this](HANDLE, DWORD flags) {
            Note(flags == (PURGE_TXABORT | PURGE_TXCLEAR) ? "purge output" : "purge other");
            return TRUE;
        };
        driver.close = [this](HANDLE) {
            Note("close");
            released = now;
            return TRUE;
        };
        environment.ports = [] {
            return std::vector<PortDetails> {{"COM1"}, {"COM3", "USB Serial Port"}};
        };
        environment.clock.now = [this] { return now; };
        environment.clock.pause = [this](std::chrono::milliseconds duration) { now += duration; };
        return environment;
    }
};

constexpr std::string_view setRaw = "set 2400 N81 binary DTR on RTS on";

} // namespace

// One cycle each: what the user is told, and what the port saw, in order.
TEST_CASE("The line claims a COM port alone, sends within one deadline, and gives the port back")
{
    struct Row
    {
        std::string_view name;
        std::int16_t port;
        Script script;
        std::string message;
        std::string log;
        FailureReason reason = FailureReason::Other;
        std::string device {}; // given by name instead of the port number
    };
    const std::string sent = std::string("open \\\\.\\COM3, ") + std::string(setRaw)
        + ", write 2 within 1000 ms, set 9600 E72 binary DTR not on RTS not on handshake altered "
          "bytes, close";
    const std::string restoredAfterPurge
        = "purge output, set 9600 E72 binary DTR not on RTS not on handshake altered bytes, close";
    const Row rows[] {
        {"sent, and the port's own state given back", 3, {}, "", sent},
        {"COM10 and above through the device namespace", 12, {}, "",
            "open \\\\.\\COM12, " + std::string(setRaw)
                + ", write 2 within 1000 ms, set 9600 E72 "
                  "binary DTR not on RTS not on handshake altered bytes, close"},
        {"held by another program", 3, {.openError = ERROR_ACCESS_DENIED},
            "Port 3 (COM3) is in use by another program.", "open \\\\.\\COM3",
            FailureReason::InUse},
        {"shared against our will", 3, {.openError = ERROR_SHARING_VIOLATION},
            "Port 3 (COM3) is in use by another program.", "open \\\\.\\COM3",
            FailureReason::InUse},
        {"no such port", 5, {.openError = ERROR_FILE_NOT_FOUND},
            "Port 5 does not exist. This system has 2 serial ports: COM1, COM3 (USB Serial Port)",
            "open \\\\.\\COM5", FailureReason::Missing},
        {"an opening refused otherwise", 3, {.openError = ERROR_GEN_FAILURE},
            "Port 3 (COM3) cannot be opened (Windows error 31).", "open \\\\.\\COM3"},
        {"a driver that rounds the speed", 3, {.roundsSpeed = true},
            "Port 3 (COM3) cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit.",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", " + restoredAfterPurge},
        {"a driver that keeps a handshake", 3, {.keepsHandshake = true},
            "Port 3 (COM3) cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit.",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", " + restoredAfterPurge},
        {"a driver that keeps another byte size", 3, {.keepsByteSize = true},
            "Port 3 (COM3) cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit.",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", " + restoredAfterPurge},
        {"a write that stalls", 3, {.writes = {0, ERROR_TIMEOUT, true}},
            "Port 3 (COM3) did not send the frame within 1 second, so it was discarded.",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", write 2 within 1000 ms, "
                + restoredAfterPurge,
            FailureReason::Timeout},
        {"a write refused", 3, {.writes = {0, ERROR_GEN_FAILURE, false}},
            "Port 3 (COM3) failed before the frame was sent (Windows error 31).",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", write 2 within 1000 ms, "
                + restoredAfterPurge},
        {"a write cut short", 3, {.writes = {1, ERROR_SUCCESS, false}},
            "Port 3 (COM3) took only 1 of the frame's 2 bytes.",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", write 2 within 1000 ms, "
                + restoredAfterPurge},
        {"the output queue watched, not the input the board sent", 3, {.queuedPolls = 3}, "", sent},
        {"a queue that cannot be read", 3, {.queueUnknown = true},
            "Port 3 (COM3) failed after the frame was handed over; it may not have been sent "
            "completely (Windows error 22).",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", write 2 within 1000 ms, "
                + restoredAfterPurge},
        {"by name, whatever the port number", 1, {}, "", sent, FailureReason::Other, "com3"},
        {"by its device name", 1, {}, "",
            "open \\\\.\\COM12, " + std::string(setRaw)
                + ", write 2 within 1000 ms, set 9600 E72 "
                  "binary DTR not on RTS not on handshake altered bytes, close",
            FailureReason::Other, "\\\\.\\COM12"},
        {"by name, held: named alone", 1, {.openError = ERROR_ACCESS_DENIED},
            "COM3 is in use by another program.", "open \\\\.\\COM3", FailureReason::InUse, "COM3"},
        {"by name, missing: named alone", 1, {.openError = ERROR_FILE_NOT_FOUND},
            "COM5 does not exist. This system has 2 serial ports: COM1, COM3 (USB Serial Port)",
            "open \\\\.\\COM5", FailureReason::Missing, "COM5"},
        {"a name that is no COM port is never opened", 1, {},
            "\"\\\\.\\PhysicalDrive0\" is not the name of a COM port, such as COM3.", "",
            FailureReason::Other, "\\\\.\\PhysicalDrive0"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        ScriptedPort port;
        port.script = row.script;
        const DCB own = port.state;
        const COMMTIMEOUTS ownTimeouts = port.timeouts;
        SerialPortLine line = row.device.empty()
            ? Win32Line(port.Environment())
            : Win32Line(OneDevice {row.device}, port.Environment());
        const CycleEnd end = RunCycle(line, row.port);
        CHECK(end.message == row.message);
        CHECK(end.reason == row.reason);
        CHECK(port.log == row.log);
        CHECK_FALSE(line.IsOpen());
        if (port.log.find("set 2400") != std::string::npos) {
            CHECK(StateText(port.state) == StateText(own));
            CHECK(port.timeouts.WriteTotalTimeoutConstant == ownTimeouts.WriteTotalTimeoutConstant);
        }
        // The UART's FIFO, which Windows cannot see into, is given the last bytes' time on the
        // wire (two at 2400 baud 8N1 take 8.3 ms) before the port's own speed comes back.
        if (row.message.empty())
            CHECK(port.released - port.emptied >= 9ms);
    }
}

TEST_CASE("While the port is held, the driver writes without a limit of its own")
{
    ScriptedPort port;
    SerialPortLine line = Win32Line(port.Environment());
    line.SetPortNumber(3);
    line.Open();
    CHECK(port.timeouts.WriteTotalTimeoutConstant == 0);
    CHECK(port.timeouts.WriteTotalTimeoutMultiplier == 0);
    CHECK(port.timeouts.ReadIntervalTimeout == MAXDWORD);
    line.Close();
    CHECK(port.timeouts.WriteTotalTimeoutConstant == 9);
}
