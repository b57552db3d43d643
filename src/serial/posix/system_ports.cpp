#include "serial/posix/system_ports.h"

#include "runtime/readings.h"
#include "serial/posix/console.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include <sys/stat.h>

namespace ostrim {
namespace {

std::string BaseName(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

bool IsTtyS(const std::string &path)
{
    const std::string name = BaseName(path);
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0 && IsDigit(name[4]);
}

std::optional<std::timespec> Modified(const std::filesystem::path &directory)
{
    struct stat info = {};
    if (::stat(directory.c_str(), &info) != 0)
        return std::nullopt;
    return info.st_mtim;
}

bool SameTime(const std::timespec &a, const std::timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Takes the digits at the start of the text off it; gives them without leading zeros, so that
// numbers of equal value compare equal and longer means larger.
std::string_view TakeNumber(std::string_view &text)
{
    const std::size_t end = std::min(text.find_first_not_of("0123456789"), text.size());
    std::string_view digits = text.substr(0, end);
    text.remove_prefix(end);
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    return digits;
}

} // namespace

bool NaturalLess(const std::string &a, const std::string &b)
{
    std::string_view x = a;
    std::string_view y = b;
    while (!x.empty() && !y.empty()) {
        if (IsDigit(x.front()) && IsDigit(y.front())) {
            const std::string_view xNumber = TakeNumber(x);
            const std::string_view yNumber = TakeNumber(y);
            if (xNumber.size() != yNumber.size())
                return xNumber.size() < yNumber.size();
            if (xNumber != yNumber)
                return xNumber < yNumber;
        } else {
            if (x.front() != y.front())
                return x.front() < y.front();
            x.remove_prefix(1);
            y.remove_prefix(1);
        }
    }
    // Names alike but for leading zeros still need an order of their own.
    return x.size() < y.size() || (x.size() == y.size() && a < b);
}

std::vector<std::string> OrderSerialPorts(
    std::vector<std::string> devicePaths, const std::function<bool(const std::string &)> &hasUart)
{
    std::erase_if(
        devicePaths, [&](const std::string &path) { return IsTtyS(path) && !hasUart(path); });
    std::sort(
        devicePaths.begin(), devicePaths.end(), [](const std::string &a, const std::string &b) {
            if (IsTtyS(a) != IsTtyS(b))
                return IsTtyS(a);
            return NaturalLess(BaseName(a), BaseName(b));
        });
    return devicePaths;
}

namespace {

// Whether sysfs says there is a UART behind a ttyS node.
bool TtySHasUart(const std::string &devicePath, const std::filesystem::path &sysClassTty)
{
    std::ifstream type(sysClassTty / BaseName(devicePath) / "type");
    std::string value;
    if (!(type >> value))
        return true; // no way to tell; better listed than hidden
    return value != "0";
}

std::string FirstLine(const std::filesystem::path &file)
{
    std::ifstream stream(file);
    std::string line;
    std::getline(stream, line);
    return line;
}

std::optional<std::uint16_t> HexId(const std::filesystem::path &file)
{
    const std::string text = FirstLine(file);
    std::uint16_t id = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), id, 16);
    if (text.empty() || result.ec != std::errc {})
        return std::nullopt;
    return id;
}

// What the USB device that a port belongs to says of itself, from the nearest folder above the
// port's device that holds a vendor id; nothing is known of other ports.
void TakeUsbDetails(PortDetails &port, const std::filesystem::path &device)
{
    std::error_code error;
    for (std::filesystem::path folder = std::filesystem::canonical(device, error);
         !error && folder.has_relative_path(); folder = folder.parent_path()) {
        if (!std::filesystem::exists(folder / "idVendor", error))
            continue;
        port.description = FirstLine(folder / "product");
        port.manufacturer = FirstLine(folder / "manufacturer");
        port.serialNumber = FirstLine(folder / "serial");
        port.vendorId = HexId(folder / "idVendor");
        port.productId = HexId(folder / "idProduct");
        return;
    }
}

} // namespace

// A terminal is a serial port when the kernel has a device behind it; virtual consoles and
// pseudo-terminals have none.
std::vector<PortDetails> ReportedSerialPorts(const std::filesystem::path &sysClassTty)
{
    std::vector<PortDetails> ports;
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator(sysClassTty, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::filesystem::path device = entry->path() / "device";
        std::error_code missing;
        if (!std::filesystem::exists(device / "driver", missing))
            continue;
        PortDetails port {"/dev/" + entry->path().filename().string()};
        TakeUsbDetails(port, device);
        ports.push_back(std::move(port));
    }
    return ports;
}

struct SystemPortList::Kept
{
    std::mutex mutex;
    std::optional<std::timespec> listedAt;
    std::vector<std::string> ports;
    std::vector<PortDetails> reported;
};

SystemPortList::SystemPortList(DevicePlaces places, PortListing reported)
    : m_places(std::move(places))
    , m_reported(std::move(reported))
    , m_kept(std::make_shared<Kept>())
{ }

void SystemPortList::ListUnlessKept() const
{
    // Taken before the listing: a node added while it runs moves the time again, and is seen next.
    const std::optional<std::timespec> modified = Modified(m_places.dev);
    if (modified && m_kept->listedAt && SameTime(*modified, *m_kept->listedAt))
        return;

    m_kept->reported = m_reported();
    std::vector<std::string> devices;
    for (const PortDetails &port : m_kept->reported)
        devices.push_back(port.device);
    const auto hasUart
        = [this](const std::string &path) { return TtySHasUart(path, m_places.sysClassTty); };
    m_kept->ports = OrderSerialPorts(std::move(devices), hasUart);
    m_kept->listedAt = modified;
}

std::vector<std::string> SystemPortList::operator()() const
{
    // Held while listing, so a press that comes during the background read waits for its result
    // rather than listing a second time.
    const std::scoped_lock lock(m_kept->mutex);
    ListUnlessKept();
    return m_kept->ports;
}

namespace {

// udev links a port from /dev/serial/by-id (adapter and serial number) and by-path (the socket it
// is plugged into). Names come back as the user types them, under /dev, wherever the places are.
std::multimap<std::string, std::string> LastingNames(const std::filesystem::path &dev)
{
    namespace fs = std::filesystem;
    std::multimap<std::string, std::string> names;
    for (const char *const kind : {"serial/by-id", "serial/by-path"}) {
        std::error_code error;
        std::vector<fs::path> links;
        for (auto entry = fs::directory_iterator(dev / kind, error);
             !error && entry != fs::directory_iterator(); entry.increment(error))
            links.push_back(entry->path());
        std::ranges::sort(links);
        for (const fs::path &link : links) {
            const fs::path target = fs::read_symlink(link, error);
            if (error)
                continue;
            const fs::path node = (link.parent_path() / target).lexically_normal();
            const fs::path asTyped = "/dev" / node.lexically_relative(dev);
            names.emplace(asTyped.string(), ("/dev" / link.lexically_relative(dev)).string());
        }
    }
    return names;
}

} // namespace

std::vector<PortDetails> SystemPortList::Details() const
{
    std::vector<std::string> ports;
    std::vector<PortDetails> reported;
    {
        const std::scoped_lock lock(m_kept->mutex);
        ListUnlessKept();
        ports = m_kept->ports;
        reported = m_kept->reported;
    }
    const std::vector<dev_t> consoles = ActiveConsoles(m_places.sysClassTty);
    std::vector<PortDetails> details = MatchPortDetails(
        ports, reported, [&](const std::string &device) { return IsConsole(device, consoles); });
    const std::multimap<std::string, std::string> names = LastingNames(m_places.dev);
    for (PortDetails &port : details) {
        const auto [first, last] = names.equal_range(port.device);
        for (auto name = first; name != last; ++name)
            port.lastingNames.push_back(name->second);
    }
    return details;
}

PortListing DevicesOnly(PortList ports, std::filesystem::path sysClassTty)
{
    return [ports = std::move(ports), sysClassTty = std::move(sysClassTty)] {
        const std::vector<dev_t> consoles = ActiveConsoles(sysClassTty);
        return MatchPortDetails(
            ports(), {}, [&](const std::string &device) { return IsConsole(device, consoles); });
    };
}

} // namespace ostrim
