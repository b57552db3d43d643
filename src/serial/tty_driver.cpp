#include "serial/tty_driver.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <sys/sysmacros.h>

namespace ostrim {
namespace {

// One line of the table: "serial  /dev/ttyS  4 64-111 serial", a single minor without the dash.
struct DriverRange
{
    unsigned int major = 0;
    unsigned int firstMinor = 0;
    unsigned int lastMinor = 0;
    std::string kind;
};

bool ReadRange(const std::string &minors, DriverRange &range)
{
    const char *const end = minors.data() + minors.size();
    const auto [afterFirst, firstError] = std::from_chars(minors.data(), end, range.firstMinor);
    range.lastMinor = range.firstMinor;
    if (firstError != std::errc {})
        return false;
    if (afterFirst == end)
        return true;
    const auto [afterLast, lastError] = std::from_chars(afterFirst + 1, end, range.lastMinor);
    return *afterFirst == '-' && lastError == std::errc {} && afterLast == end;
}

bool Covers(const DriverRange &range, dev_t device)
{
    return ::major(device) == range.major && ::minor(device) >= range.firstMinor
        && ::minor(device) <= range.lastMinor;
}

// /dev/tty, /dev/console, /dev/ptmx and the virtual consoles /dev/tty0 to /dev/tty63.
bool IsFixedNonPort(dev_t device)
{
    return (::major(device) == 5 && ::minor(device) <= 2)
        || (::major(device) == 4 && ::minor(device) <= 63);
}

} // namespace

bool IsSerialPortDeviceIn(dev_t device, std::string_view ttyDriversText)
{
    if (ttyDriversText.empty())
        return !IsFixedNonPort(device);
    std::istringstream table {std::string(ttyDriversText)};
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string name;
        std::string node;
        std::string minors;
        DriverRange range;
        if (fields >> name >> node >> range.major >> minors >> range.kind
            && ReadRange(minors, range) && Covers(range, device))
            return range.kind == "serial" || range.kind == "pty:slave";
    }
    return false; // no tty driver at all: /dev/null, a disk, a sound card
}

bool IsSerialPortDevice(dev_t device, const std::filesystem::path &ttyDrivers)
{
    std::ifstream file(ttyDrivers);
    const std::string text {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return IsSerialPortDeviceIn(device, text);
}

} // namespace ostrim
