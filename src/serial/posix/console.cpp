#include "serial/posix/console.h"

#include "runtime/readings.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ostrim {
namespace {

int OpenForReading(const std::filesystem::path &path)
{
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// From the start, whatever was read before: sysfs makes the text afresh for a read at offset 0.
std::string ReadFromStart(int handle)
{
    char buffer[512];
    const ssize_t got = ::pread(handle, buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// With one read(2): a stream costs more than the rest of a press.
std::string ReadSmallFile(const std::filesystem::path &path)
{
    const int handle = OpenForReading(path);
    if (handle < 0)
        return {};
    std::string text = ReadFromStart(handle);
    ::close(handle);
    return text;
}

// A sysfs dev file holds "major:minor".
std::optional<dev_t> ReadDeviceNumber(const std::filesystem::path &devFile)
{
    const std::string text = ReadSmallFile(devFile);
    const std::string_view line = std::string_view(text).substr(0, text.find('\n'));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto major = WholeNumber<unsigned int>(line.substr(0, colon));
    const auto minor = WholeNumber<unsigned int>(line.substr(colon + 1));
    if (!major || !minor)
        return std::nullopt;
    return ::makedev(*major, *minor);
}

// The device numbers of the consoles that console/active names.
std::vector<dev_t> DevicesNamed(
    const std::string &activeText, const std::filesystem::path &sysClassTty)
{
    std::vector<dev_t> consoles;
    std::istringstream active(activeText);
    for (std::string name; active >> name;) {
        // Names come from the kernel, but a path is built from them: keep them to one component.
        if (name.find('/') != std::string::npos || name == "." || name == "..")
            continue;
        if (const std::optional<dev_t> device = ReadDeviceNumber(sysClassTty / name / "dev"))
            consoles.push_back(*device);
    }
    return consoles;
}

} // namespace

bool IsOnSysfs(int handle)
{
    struct statfs system = {};
    return ::fstatfs(handle, &system) == 0 && system.f_type == SYSFS_MAGIC;
}

// sysfs marks the file with POLLPRI and POLLERR until it is read again.
bool MarkedAsChanged(int handle)
{
    pollfd watch {handle, POLLPRI, 0};
    return ::poll(&watch, 1, 0) < 0 || (watch.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0;
}

std::vector<dev_t> ActiveConsoles(const std::filesystem::path &sysClassTty)
{
    return DevicesNamed(ReadSmallFile(sysClassTty / "console" / "active"), sysClassTty);
}

bool IsConsole(const std::string &devicePath, const std::vector<dev_t> &consoles)
{
    struct stat status = {};
    if (::stat(devicePath.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    return std::ranges::find(consoles, status.st_rdev) != consoles.end();
}

ConsoleWatch::ConsoleWatch(std::filesystem::path sysClassTty, ConsoleSignals notices)
    : m_sysClassTty(std::move(sysClassTty))
    , m_notices(std::move(notices))
{
    Read();
}

ConsoleWatch::~ConsoleWatch()
{
    if (m_active >= 0)
        ::close(m_active);
}

const std::vector<dev_t> &ConsoleWatch::Current()
{
    if (m_active < 0 || m_notices.changed(m_active))
        Read();
    return m_consoles;
}

void ConsoleWatch::Read()
{
    if (m_active < 0)
        m_active = OpenForReading(m_sysClassTty / "console" / "active");
    if (m_active < 0) {
        m_consoles.clear();
        return;
    }
    m_consoles = DevicesNamed(ReadFromStart(m_active), m_sysClassTty);
    if (!m_notices.tellsOfChanges(m_active)) {
        ::close(m_active);
        m_active = -1;
    }
}

} // namespace ostrim
