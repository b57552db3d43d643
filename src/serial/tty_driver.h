#pragma once

#include <filesystem>
#include <string_view>

#include <sys/types.h>

namespace ostrim {

// Whether a character device is a port a frame may be written to: its tty driver is a serial
// driver or the slave side of a pseudo-terminal (virtual serial ports are made that way). Decided
// by the kernel's own table of tty drivers and their kinds, not by the node's name: /dev/ptmx,
// /dev/tty, /dev/console and the virtual consoles are terminals too, but none is a port, and
// opening /dev/ptmx alone makes a new terminal pair that nothing listens to.
bool IsSerialPortDevice(
    dev_t device, const std::filesystem::path &ttyDrivers = "/proc/tty/drivers");

// The same, from the text of that table; where it is empty (no /proc), from the device numbers
// that Linux fixes for the terminals that are no ports.
bool IsSerialPortDeviceIn(dev_t device, std::string_view ttyDriversText);

} // namespace ostrim
