#include "serial/console.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ostrim {
namespace {

// Read on every press, so with one read(2) each: a stream costs more than the rest of a press.
std::string ReadSmallFile(const std::filesystem::path &path)
{
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (handle < 0)
        return {};
    char buffer[256];
    const ssize_t got = ::read(handle, buffer, sizeof buffer);
    ::close(handle);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// A sysfs dev file holds "major:minor".
std::optional<dev_t> ReadDeviceNumber(const std::filesystem::path &devFile)
{
    const std::string text = ReadSmallFile(devFile);
    const char *const end = text.data() + text.size();
    unsigned int major = 0;
    unsigned int minor = 0;
    const auto [afterMajor, majorError] = std::from_chars(text.data(), end, major);
    if (majorError != std::errc {} || afterMajor == end || *afterMajor != ':')
        return std::nullopt;
    const auto [afterMinor, minorError] = std::from_chars(afterMajor + 1, end, minor);
    if (minorError != std::errc {} || (afterMinor != end && *afterMinor != '\n'))
        return std::nullopt;
    return ::makedev(major, minor);
}

} // namespace

std::vector<dev_t> ActiveConsoles(const std::filesystem::path &sysClassTty)
{
    std::vector<dev_t> consoles;
    std::istringstream active(ReadSmallFile(sysClassTty / "console" / "active"));
    for (std::string name; active >> name;) {
        // Names come from the kernel, but a path is built from them: keep them to one component.
        if (name.find('/') != std::string::npos || name == "." || name == "..")
            continue;
        if (const std::optional<dev_t> device = ReadDeviceNumber(sysClassTty / name / "dev"))
            consoles.push_back(*device);
    }
    return consoles;
}

bool IsConsole(const std::string &devicePath, const std::vector<dev_t> &consoles)
{
    struct stat status = {};
    if (::stat(devicePath.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
        return false;
    return std::ranges::find(consoles, status.st_rdev) != consoles.end();
}

} // namespace ostrim
