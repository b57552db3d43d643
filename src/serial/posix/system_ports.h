#pragma once

#include "serial/port_details.h"

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

// The same ports, each with what the system tells of it, for a user choosing among them.
using PortListing = std::function<std::vector<PortDetails>()>;

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

// Every serial device the system reports, with what it tells of each, in no particular order.
std::vector<PortDetails> ReportedSerialPorts(
    const std::filesystem::path &sysClassTty = "/sys/class/tty");

// The system's serial ports as they are now. Listing them costs 17 to 23 ms, twice what the frame
// takes on the wire, so the last list is kept until a device node is added to or removed from
// /dev, which moves the directory's modification time. Copies share the kept list, and may be
// called from any thread: a window can read the list in the background while it starts.
class SystemPortList
{
public:
    explicit SystemPortList(
        DevicePlaces places = {}, PortListing reported = [] { return ReportedSerialPorts(); });

    std::vector<std::string> operator()() const;
    // The same ports with what the system told of them when it listed them, the console marked:
    // one listing serves both the port numbers and what is shown of each port.
    std::vector<PortDetails> Details() const;

private:
    struct Kept;
    void ListUnlessKept() const; // with the kept list locked

    DevicePlaces m_places;
    PortListing m_reported;
    std::shared_ptr<Kept> m_kept;
};

// What to say where the list is empty: most often the user may not see the ports, or the adapter
// is not plugged in.
inline constexpr std::string_view noSerialPortText
    = "This system has no serial port that this user may see: check that the adapter is plugged "
      "in, and that you are in the serial ports' group (dialout).";

// A listing of these ports that knows nothing of them but their devices and which is a console.
PortListing DevicesOnly(PortList ports, std::filesystem::path sysClassTty = "/sys/class/tty");

// True for names that sort before others in natural order: runs of digits compare by value.
bool NaturalLess(const std::string &a, const std::string &b);

} // namespace ostrim
