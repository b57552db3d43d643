#include "scripted_backend.h"
#include "scripted_comm_port.h"
#include "serial/win32/win32_line_backend.h"
#include "table_test.h"

#include <array>

using namespace ostrim;
using namespace ostrim::test;
using namespace std::chrono_literals;

namespace {

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
    const auto refusedBy = [&](std::string_view name, void (*keeps)(DCB &)) {
        return Row {name, 3, {.keeps = keeps},
            "Port 3 (COM3) cannot be set to 2400 baud, 8 data bits, no parity, 1 stop bit.",
            "open \\\\.\\COM3, " + std::string(setRaw) + ", " + restoredAfterPurge};
    };
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
        // An unplugged USB adapter: its driver answers for a number that is no longer there.
        {"an adapter unplugged", 5, {.openError = ERROR_DEV_NOT_EXIST},
            "Port 5 does not exist. This system has 2 serial ports: COM1, COM3 (USB Serial Port)",
            "open \\\\.\\COM5", FailureReason::Missing},
        {"an adapter no longer connected", 5, {.openError = ERROR_DEVICE_NOT_CONNECTED},
            "Port 5 does not exist. This system has 2 serial ports: COM1, COM3 (USB Serial Port)",
            "open \\\\.\\COM5", FailureReason::Missing},
        {"an opening refused otherwise", 3, {.openError = ERROR_GEN_FAILURE},
            "Port 3 (COM3) cannot be opened (Windows error 31).", "open \\\\.\\COM3"},
        // A driver that takes our state but keeps something of its own, read back: any handshake
        // would hold the frame until the board drives a line it may not have.
        refusedBy("a driver that rounds the speed", [](DCB &state) { state.BaudRate = 2404; }),
        refusedBy("a driver that keeps another byte size", [](DCB &state) { state.ByteSize = 7; }),
        refusedBy(
            "a driver that keeps another parity", [](DCB &state) { state.Parity = ODDPARITY; }),
        refusedBy(
            "a driver that keeps two stop bits", [](DCB &state) { state.StopBits = TWOSTOPBITS; }),
        refusedBy(
            "a driver that keeps CTS flow control", [](DCB &state) { state.fOutxCtsFlow = TRUE; }),
        refusedBy(
            "a driver that keeps DSR flow control", [](DCB &state) { state.fOutxDsrFlow = TRUE; }),
        refusedBy("a driver that keeps XON/XOFF on output", [](DCB &state) { state.fOutX = TRUE; }),
        refusedBy("a driver that keeps XON/XOFF on input", [](DCB &state) { state.fInX = TRUE; }),
        refusedBy("a driver that keeps the DTR handshake",
            [](DCB &state) { state.fDtrControl = DTR_CONTROL_HANDSHAKE; }),
        refusedBy("a driver that keeps the RTS handshake",
            [](DCB &state) { state.fRtsControl = RTS_CONTROL_HANDSHAKE; }),
        refusedBy("a driver that keeps RTS toggling",
            [](DCB &state) { state.fRtsControl = RTS_CONTROL_TOGGLE; }),
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
        SerialPortLine line = Win32Line(port.Environment(),
            row.device.empty() ? std::nullopt : std::optional(OneDevice {row.device}));
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

// The program only ever sends 2400 8N1, so every other framing is checked here, where a swapped
// code would otherwise go unnoticed: the state handed to the driver, and the wire time of the
// last bytes, which counts the parity and stop bits.
TEST_CASE("Every framing is handed to the driver with its wire time")
{
    struct Row
    {
        std::string settings;
        std::string handed;
        std::chrono::microseconds twoBytesOnTheWire;
    };
    const Row rows[] {
        {"2400,N,8,1", "2400 N81", 8334us},
        {"9600,E,7,2", "9600 E72", 2292us},
        {"300,O,6,1", "300 O61", 60000us},
        {"1200,M,8,1", "1200 M81", 18334us},
        {"4800,S,8,1", "4800 S81", 4584us},
        {"110,N,5,1.5", "110 N51.5", 136364us},
    };
    for (const Row &row : rows) {
        INFO(row.settings);
        ScriptedPort port;
        SerialPortLine line = Win32Line(port.Environment());
        line.SetPortNumber(3);
        line.SetSettings(row.settings);
        line.Open();
        line.Write(std::array<std::uint8_t, 2> {0x07, 0xA0});
        line.Close();
        CHECK(port.log.starts_with("open \\\\.\\COM3, set " + row.handed + " binary"));
        const auto waited = port.released - port.emptied;
        CHECK(waited >= row.twoBytesOnTheWire);
        CHECK(waited < row.twoBytesOnTheWire + 2ms);
    }
}
