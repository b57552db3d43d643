#pragma once

#include "serial/line_backend.h"
#include "serial/line_settings.h"
#include "serial/port_details.h"
#include "serial/serial_port_line.h"
#include "serial/win32/win32_ports.h"

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
    std::function<BOOL(HANDLE, DWORD *, COMSTAT *)> readStatus = ::ClearCommError;
    std::function<BOOL(HANDLE, DWORD)> purge = ::PurgeComm;
    std::function<BOOL(HANDLE)> close = ::CloseHandle;
};

// Everything outside the process that the line consults; tests point it at their own.
struct Win32LineEnvironment
{
    CommDriver driver;
    std::function<std::vector<PortDetails>()> ports = SystemWin32Ports;
    LineClock clock;
};

// A line on the COM ports, or on that one port whatever port number it is given.
SerialPortLine Win32Line(
    Win32LineEnvironment environment = {}, std::optional<OneDevice> device = std::nullopt);

} // namespace ostrim
