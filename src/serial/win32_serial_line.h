#pragma once

#include "runtime/action_error.h"
#include "serial/line_settings.h"
#include "serial/port_details.h"
#include "serial/serial_line.h"
#include "serial/win32_ports.h"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <windows.h>

namespace ostrim {

// How a write that had a limit ended: done (all or part of the bytes), refused, or out of time.
struct BoundedWrite
{
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    bool timedOut = false;
};

// CreateFileW with no sharing, for overlapped I/O: INVALID_HANDLE_VALUE with the last error set.
HANDLE SystemOpenPort(const std::wstring &path);
// An overlapped WriteFile, waited for no longer than the limit and withdrawn after it.
BoundedWrite SystemWriteWithin(
    HANDLE port, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit);
// Bytes still in the driver's output queue (ClearCommError); nothing when it cannot be told.
std::optional<DWORD> SystemPendingOutput(HANDLE port);
// PurgeComm: the pending write withdrawn, the output queue emptied.
BOOL SystemDiscardOutput(HANDLE port);

// The calls that reach the port's driver, where a test must stand in for what Wine cannot show:
// a port that another program holds, a queue that does not empty, a driver that keeps part of the
// settings, or the handshakes a port was left with.
struct CommDriver
{
    std::function<HANDLE(const std::wstring &path)> open = SystemOpenPort;
    std::function<BOOL(HANDLE, DCB *)> readState = ::GetCommState;
    std::function<BOOL(HANDLE, DCB *)> applyState = ::SetCommState;
    std::function<BOOL(HANDLE, COMMTIMEOUTS *)> readTimeouts = ::GetCommTimeouts;
    std::function<BOOL(HANDLE, COMMTIMEOUTS *)> applyTimeouts = ::SetCommTimeouts;
    std::function<BoundedWrite(HANDLE, std::span<const std::uint8_t>, std::chrono::milliseconds)>
        write = SystemWriteWithin;
    std::function<std::optional<DWORD>(HANDLE)> pendingOutput = SystemPendingOutput;
    std::function<BOOL(HANDLE)> discardOutput = SystemDiscardOutput;
    std::function<BOOL(HANDLE)> close = ::CloseHandle;
};

void PauseFor(std::chrono::milliseconds duration);

// Everything outside the process that the line consults; tests point it at their own.
struct Win32LineEnvironment
{
    CommDriver driver;
    std::function<std::vector<PortDetails>()> ports = SystemWin32Ports;
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
    std::function<void(std::chrono::milliseconds)> pause = PauseFor;
};

// A serial line on a Windows COM port: port n is COMn. The port is opened without sharing, so
// no other program can use it for the one open-write-close cycle, and is given back with its own
// state and timeouts.
class Win32SerialLine final : public SerialLine
{
public:
    using Clock = std::chrono::steady_clock;

    explicit Win32SerialLine(Win32LineEnvironment environment = {});
    // A line on that one port, "COMn" or "\\.\COMn" in any case, whatever port number it is
    // given; its messages name it "COMn" alone. Any other name is refused when it is opened.
    explicit Win32SerialLine(OneDevice device, Win32LineEnvironment environment = {});
    ~Win32SerialLine() override;
    Win32SerialLine(const Win32SerialLine &) = delete;
    Win32SerialLine &operator=(const Win32SerialLine &) = delete;

    void SetPortNumber(std::int16_t number) override;
    void SetSettings(const std::string &settings) override;
    void Open() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    bool IsOpen() const override;
    // "COMn", as Windows users know the port.
    std::string Device() const override { return m_device; }

private:
    std::string PortName() const;
    int NumberToOpen() const;
    [[noreturn]] void Fail(FailureReason reason, const std::string &message, DWORD error) const;
    [[noreturn]] void FailOnPort(FailureReason reason, const std::string &what, DWORD error) const;
    [[noreturn]] void FailToOpen(DWORD error) const;
    [[noreturn]] void AbandonAndFail(FailureReason reason, const std::string &what, DWORD error);
    [[noreturn]] void FailTimedOut();
    void Configure();
    std::chrono::milliseconds TimeLeft() const;
    void DrainBeforeDeadline();
    void Release();
    void Abandon();

    Win32LineEnvironment m_environment;
    std::int16_t m_portNumber = 1;
    std::optional<std::string> m_oneDevice; // as the user named it
    LineSettings m_settings;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::optional<DCB> m_savedState; // the port's own, given back when it is released
    std::optional<COMMTIMEOUTS> m_savedTimeouts;
    Clock::time_point m_sendDeadline; // from the write on, for write and drain together
    std::size_t m_written = 0;
    std::string m_device;
};

} // namespace ostrim
