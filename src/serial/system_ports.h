#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// Device paths of the serial ports; port n is element n - 1.
using PortList = std::function<std::vector<std::string>()>;

// Where the system shows its devices; tests point these at folders of their own.
struct DevicePlaces
{
    std::filesystem::path dev {"/dev"};
    std::filesystem::path sysClassTty {"/sys/class/tty"};
};

// ttyS ports first, then all others, each group in natural order of the device name (ttyUSB2
// before ttyUSB10). ttyS nodes with no UART behind them are left out, or a machine with 32 such
// nodes would push its USB adapter to port 33.
std::vector<std::string> OrderSerialPorts(
    std::vector<std::string> devicePaths, const std::function<bool(const std::string &)> &hasUart);

// Whether sysfs says there is a UART behind a ttyS node.
bool TtySHasUart(
    const std::string &devicePath, const std::filesystem::path &sysClassTty = "/sys/class/tty");

// Every serial device the system reports, in no particular order.
std::vector<std::string> ReportedSerialDevices();

// The system's serial ports as they are now. Listing them costs 17 to 23 ms, twice what the frame
// takes on the wire, so the last list is kept until a device node is added to or removed from
// /dev, which moves the directory's modification time. Copies share the kept list, and may be
// called from any thread: a window can read the list in the background while it starts.
class SystemPortList
{
public:
    explicit SystemPortList(DevicePlaces places = {},
        std::function<std::vector<std::string>()> reported = ReportedSerialDevices);

    std::vector<std::string> operator()() const;

private:
    struct Kept;

    DevicePlaces m_places;
    std::function<std::vector<std::string>()> m_reported;
    std::shared_ptr<Kept> m_kept;
};

// What to say where the list is empty: most often the user may not see the ports, or the adapter
// is not plugged in.
inline constexpr std::string_view noSerialPortText
    = "This system has no serial port that this user may see: check that the adapter is plugged "
      "in, and that you are in the serial ports' group (dialout).";

// True for names that sort before others in natural order: runs of digits compare by value.
bool NaturalLess(const std::string &a, const std::string &b);

} // namespace ostrim
