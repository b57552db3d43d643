#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

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

// One line of the table: the device numbers a driver answers for, and whether it drives ports.
struct TtyDriverRange
{
    unsigned int major = 0;
    unsigned int firstMinor = 0;
    unsigned int lastMinor = 0;
    bool drivesPorts = false;
};

// The same judgement, with the table kept between looks: reading it costs more than the rest of a
// press. The terminals that are no ports have device numbers that the kernel fixes, so numbers
// once found to be a port's stay a port's while the program runs, and are judged without reading
// again. Any other device is judged by the table afresh, which then sees a driver loaded since (an
// adapter's module is loaded when the first one is plugged in).
class TtyDrivers
{
public:
    explicit TtyDrivers(std::filesystem::path table = "/proc/tty/drivers");

    bool IsSerialPort(dev_t device);

private:
    std::filesystem::path m_table;
    std::vector<TtyDriverRange> m_kept; // the table as last read
};

} // namespace ostrim
