#include "serial/system_ports.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include <QSerialPortInfo>

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
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0
        && std::isdigit(static_cast<unsigned char>(name[4]));
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

} // namespace

bool NaturalLess(const std::string &a, const std::string &b)
{
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t iEnd = std::find_if_not(a.begin() + i, a.end(), isDigit) - a.begin();
            const std::size_t jEnd = std::find_if_not(b.begin() + j, b.end(), isDigit) - b.begin();
            std::string_view x(a.data() + i, iEnd - i);
            std::string_view y(b.data() + j, jEnd - j);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
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
