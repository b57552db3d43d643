#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrim {

// Device paths of the serial ports; port n is element n - 1.
using PortList = std::function<std::vector<std::string>()>;

// ttyS ports first, then all others, each group in natural order of the device name (ttyUSB2
// before ttyUSB10). ttyS nodes with no UART behind them are left out, or a machine with 32 such
// nodes would push its USB adapter to port 33.
std::vector<std::string> OrderSerialPorts(
    std::vector<std::string> devicePaths, const std::function<bool(const std::string &)> &hasUart);

// Whether /sys says there is a UART behind a ttyS node.
bool TtySHasUart(const std::string &devicePath);

// The system's serial ports as they are now. Listing them costs about 10 ms, more than the frame
// takes on the wire, so the last list is kept until a device node is added to or removed from
// /dev, which moves the directory's modification time.
class SystemPortList
{
public:
    std::vector<std::string> operator()();

private:
    std::optional<std::timespec> m_listedAt;
    std::vector<std::string> m_ports;
};

// True for names that sort before others in natural order: runs of digits compare by value.
bool NaturalLess(const std::string &a, const std::string &b);

} // namespace ostrim
