#include "serial/system_ports.h"

#include <algorithm>
#include <fstream>

#include <QSerialPortInfo>

#include <sys/stat.h>

namespace ostrim {
namespace {

std::string BaseName(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsTtyS(const std::string &path)
{
    const std::string name = BaseName(path);
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0 && IsDigit(name[4]);
}

std::optional<std::timespec> DevModified()
{
    struct stat info = {};
    if (::stat("/dev", &info) != 0)
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

bool TtySHasUart(const std::string &devicePath)
{
    std::ifstream type("/sys/class/tty/" + BaseName(devicePath) + "/type");
    std::string value;
    if (!(type >> value))
        return true; // no way to tell; better listed than hidden
    return value != "0";
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

std::vector<std::string> SystemPortList::operator()()
{
    const std::optional<std::timespec> modified = DevModified();
    if (modified && m_listedAt && SameTime(*modified, *m_listedAt))
        return m_ports;

    std::vector<std::string> paths;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        paths.push_back(info.systemLocation().toStdString());
    m_ports = OrderSerialPorts(std::move(paths), TtySHasUart);
    m_listedAt = modified;
    return m_ports;
}

} // namespace ostrim
