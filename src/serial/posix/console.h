#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace ostrim {

// Device numbers of the terminals the kernel uses as its console now (console=ttyS0 on many
// servers, boards and virtual machines), from <sysClassTty>/console/active and each entry's dev
// file. A console that cannot be read is left out: the list guards, it does not decide what exists.
std::vector<dev_t> ActiveConsoles(const std::filesystem::path &sysClassTty = "/sys/class/tty");

// Whether the node at the path is one of these consoles. Judged by the device the path leads to,
// so a link, a renamed node or a node bound over another path is seen for what it is.
bool IsConsole(const std::string &devicePath, const std::vector<dev_t> &consoles);

// Whether an open file is on sysfs, which tells pollers of changes to it.
bool IsOnSysfs(int handle);

// Whether sysfs marked the open file as changed since it was last read; a failed poll counts as a
// change, since reading again costs only time.
bool MarkedAsChanged(int handle);

// How a ConsoleWatch learns of a change. Tests stand in for the kernel here: they cannot make a
// console come or go.
struct ConsoleSignals
{
    std::function<bool(int handle)> tellsOfChanges = IsOnSysfs;
    std::function<bool(int handle)> changed = MarkedAsChanged;
};

// The active consoles, kept between calls. The kernel tells whoever polls console/active when a
// console comes or goes, so on sysfs the list is read again only then: one poll(2) a press rather
// than two sysfs files, which cost more than the rest of a press. A folder that only looks like
// sysfs tells of no change, so there the list is read on every call.
class ConsoleWatch
{
public:
    explicit ConsoleWatch(
        std::filesystem::path sysClassTty = "/sys/class/tty", ConsoleSignals notices = {});
    ~ConsoleWatch();
    ConsoleWatch(const ConsoleWatch &) = delete;
    ConsoleWatch &operator=(const ConsoleWatch &) = delete;

    const std::vector<dev_t> &Current();

private:
    void Read();

    std::filesystem::path m_sysClassTty;
    ConsoleSignals m_notices;
    int m_active = -1; // console/active, held open while sysfs can tell of changes to it
    std::vector<dev_t> m_consoles;
};

} // namespace ostrim
