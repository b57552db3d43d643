#pragma once

#include "serial/win32/win32_line_backend.h"

#include <array>
#include <string>

namespace ostrim::test {

// A port's state in a few words, for a log that shows what the line asked of the driver.
inline std::string StateText(const DCB &state)
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
inline DCB LeftByAnother()
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
    void (*keeps)(DCB &) = nullptr; // what the driver keeps of its own when asked for our state
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
    SerialPortLine::Clock::time_point now
        = SerialPortLine::Clock::time_point {} + std::chrono::hours(1);
    SerialPortLine::Clock::time_point emptied {};
    SerialPortLine::Clock::time_point released {};
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
            if (script.keeps && asked->BaudRate == 2400)
                script.keeps(state);
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
            else if (emptied == SerialPortLine::Clock::time_point {})
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

} // namespace ostrim::test
