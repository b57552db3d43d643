#include "serial/posix/tty_driver.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <sys/sysmacros.h>

namespace ostrim {
namespace {

// The minors of a line: "64-111", a single minor without the dash.
bool ReadRange(const std::string &minors, TtyDriverRange &range)
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

// "serial  /dev/ttyS  4 64-111 serial": name, node, major, minors, kind.
std::vector<TtyDriverRange> DriversIn(std::string_view text)
{
    std::vector<TtyDriverRange> drivers;
    std::istringstream table {std::string(text)};
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string name;
        std::string node;
        std::string minors;
        std::string kind;
        TtyDriverRange range;
        if (fields >> name >> node >> range.major >> minors >> kind && ReadRange(minors, range)) {
            range.drivesPorts = kind == "serial" || kind == "pty:slave";
            drivers.push_back(range);
        }
    }
    return drivers;
}

bool Covers(const TtyDriverRange &range, dev_t device)
{
    return ::major(device) == range.major && ::minor(device) >= range.firstMinor
        && ::minor(device) <= range.lastMinor;
}

// By the first driver that answers for the device; none at all: /dev/null, a disk, a sound card.
bool IsPortIn(const std::vector<TtyDriverRange> &drivers, dev_t device)
{
    const auto driver = std::ranges::find_if(
        drivers, [device](const auto &range) { return Covers(range, device); });
    return driver != drivers.end() && driver->drivesPorts;
}

// /dev/tty, /dev/console, /dev/ptmx and the virtual consoles /dev/tty0 to /dev/tty63.
bool IsFixedNonPort(dev_t device)
{
    return (::major(device) == 5 && ::minor(device) <= 2)
        || (::major(device) == 4 && ::minor(device) <= 63);
}

std::string WholeFile(const std::filesystem::path &path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

bool IsSerialPortDeviceIn(dev_t device, std::string_view ttyDriversText)
{
    return ttyDriversText.empty() ? !IsFixedNonPort(device)
                                  : IsPortIn(DriversIn(ttyDriversText), device);
}

bool IsSerialPortDevice(dev_t device, const std::filesystem::path &ttyDrivers)
{
    return TtyDrivers(ttyDrivers).IsSerialPort(device);
}

TtyDrivers::TtyDrivers(std::filesystem::path table)
    : m_table(std::move(table))
{ }

bool TtyDrivers::IsSerialPort(dev_t device)
{
    if (IsPortIn(m_kept, device))
        return true;
    const std::string text = WholeFile(m_table);
    if (text.empty()) // no /proc
        return !IsFixedNonPort(device);
    m_kept = DriversIn(text);
    return IsPortIn(m_kept, device);
}

} // namespace ostrim
