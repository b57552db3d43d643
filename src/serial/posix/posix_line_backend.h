#pragma once

#include "serial/line_settings.h"
#include "serial/posix/port_sharing.h"
#include "serial/posix/system_ports.h"
#include "serial/posix/terminal_settings.h"
#include "serial/serial_port_line.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrim {

// Bytes still waiting in the system's output queue of an open port; -1 with errno set when it
// cannot be told.
int SystemPendingOutput(int handle);
// tcdrain and tcflush(TCOFLUSH).
int SystemDrain(int handle);
int SystemDiscardOutput(int handle);

// The calls that reach the terminal driver, where a test must stand in for what a
// pseudo-terminal cannot do: hold a parity or a word size, or keep bytes queued.
struct TerminalDriver
{
    std::function<int(int handle, TerminalSettings &settings)> readSettings = ReadTerminalSettings;
    std::function<int(int handle, const TerminalSettings &settings)> applySettings
        = ApplyTerminalSettings;
    std::function<int(int handle)> pendingOutput = SystemPendingOutput;
    std::function<int(int handle)> drain = SystemDrain;
    std::function<int(int handle)> discardOutput = SystemDiscardOutput;
};

// Everything outside the process that the line consults; tests point it at their own.
struct LineEnvironment
{
    TerminalDriver driver;
    SharingPlaces sharing;
    std::filesystem::path sysClassTty {"/sys/class/tty"};
    LineClock clock;
};

// A line on the terminal interface. Port n is the n-th entry of the port list; or that one device,
// for a name that outlives re-enumeration (/dev/serial/by-id/...), with every check alike. The
// port is claimed for one open-write-close cycle only, and only when no other program holds it (a
// UUCP lock file, a flock, an exclusive open) and it is not the system's console. Nothing is
// written to disk: no lock file of our own, since a flock and TIOCEXCL claim the port without one.
// A line on one device has no list to choose from: the ports are not consulted.
SerialPortLine PosixLine(PortList ports = SystemPortList {}, LineEnvironment environment = {},
    std::optional<OneDevice> device = std::nullopt);

} // namespace ostrim
