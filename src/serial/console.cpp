#include "serial/console.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace ostrim {
namespace {

// A sysfs dev file holds "major:minor".
std::optional<dev_t> ReadDeviceNumber(const std::filesystem::path &devFile)
{
    std::ifstream file(devFile);
    unsigned int major = 0;
    unsigned int minor = 0;
    char colon = 0;
    if (!(file >> major >> colon >> minor) || colon != ':')
        return std::nullopt;
    return ::makedev(major, minor);
}

} // namespace

std::vector<dev_t> ActiveConsoles(const std::filesystem::path &sysClassTty)
{
    std::vector<dev_t> consoles;
    std::ifstream active(sysClassTty / "console" / "active");
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
