#include "pseudo_terminal.h"
#include "serial/posix/console.h"
#include "temporary_folder.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <utility>

#include <doctest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ostrim;

namespace {

dev_t DeviceOf(const std::string &path)
{
    struct stat status = {};
    ::stat(path.c_str(), &status);
    return status.st_rdev;
}

std::string DevFileText(dev_t device)
{
    return std::to_string(major(device)) + ":" + std::to_string(minor(device)) + "\n";
}

void WriteFile(const std::filesystem::path &path, const std::string &text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

} // namespace

// The console here is a pseudo-terminal, named "ttyS0" in a sysfs of the test's own.
TEST_CASE("The console is judged by its device, whatever path reaches it")
{
    struct Row
    {
        std::string_view name;
        std::string active;
        std::string checked; // console, link, node, other, null, missing
        bool isConsole;
    };
    const Row rows[] {
        {"the console itself", "ttyS0", "console", true},
        {"one of two active consoles", "tty0 ttyS0", "console", true},
        {"a link to the console", "ttyS0", "link", true},
        {"a node of the console's number under another name", "ttyS0", "node", true},
        {"another terminal", "ttyS0", "other", false},
        {"no console active", "", "console", false},
        {"a character device that is no console", "ttyS0", "null", false},
        {"a path that does not exist", "ttyS0", "missing", false},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        TemporaryFolder dir;
        const std::filesystem::path root = dir.path();
        PseudoTerminal console;
        PseudoTerminal other;
        WriteFile(root / "sys" / "console" / "active", row.active + "\n");
        WriteFile(root / "sys" / "ttyS0" / "dev", DevFileText(DeviceOf(console.devicePath())));
        WriteFile(root / "sys" / "tty0" / "dev", "4:0\n");

        const std::string link = root / "serial-link";
        REQUIRE(::symlink(console.devicePath().c_str(), link.c_str()) == 0);
        const std::string node = root / "renamed-node";
        const bool madeNode
            = ::mknod(node.c_str(), S_IFCHR | 0600, DeviceOf(console.devicePath())) == 0;
        if (row.checked == "node" && !madeNode) {
            MESSAGE("skipped: making a device node needs CAP_MKNOD");
            continue;
        }
        const std::map<std::string, std::string> paths {{"console", console.devicePath()},
            {"link", link}, {"node", node}, {"other", other.devicePath()}, {"null", "/dev/null"},
            {"missing", root / "no-such-device"}};
        CHECK(IsConsole(paths.at(row.checked), ActiveConsoles(root / "sys")) == row.isConsole);
    }
}

TEST_CASE("Console entries that cannot be read are left out")
{
    TemporaryFolder dir;
    const std::filesystem::path sys = dir.path();
    WriteFile(sys / "console" / "active", "ttyS0 ttyS1 ttyS3\n");
    WriteFile(sys / "ttyS0" / "dev", "4:64\n");
    WriteFile(sys / "ttyS1" / "dev", "garbage\n");
    // ttyS3 has no dev file at all.
    CHECK(ActiveConsoles(sys) == std::vector<dev_t> {::makedev(4, 64)});
    CHECK(ActiveConsoles(sys / "nowhere").empty());
}

// A folder standing in for sysfs cannot tell of a change, so each look must read it afresh.
TEST_CASE("The watch sees changes where nothing tells of them")
{
    struct Row
    {
        std::string_view name;
        std::string before;
        std::string after;
        bool writtenAnew; // a new file renamed over the old, as editors save
        bool consoleAfter;
    };
    const Row rows[] {
        {"declared after the watch began", "tty0", "tty0 ttyS0", false, true},
        {"no longer a console", "ttyS0", "tty0", false, false},
        {"declared in a file renamed over the old", "tty0", "ttyS0", true, true},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        TemporaryFolder dir;
        const std::filesystem::path sys = dir.path();
        PseudoTerminal console;
        const dev_t device = DeviceOf(console.devicePath());
        WriteFile(sys / "ttyS0" / "dev", DevFileText(device));
        WriteFile(sys / "tty0" / "dev", "4:0\n");
        const std::filesystem::path active = sys / "console" / "active";
        WriteFile(active, row.before + "\n");

        ConsoleWatch watch(sys);
        CHECK(std::ranges::count(watch.Current(), device)
            == (row.before.find("ttyS0") != std::string::npos ? 1 : 0));
        const std::filesystem::path written
            = row.writtenAnew ? sys / "console" / "active.new" : active;
        WriteFile(written, row.after + "\n");
        std::filesystem::rename(written, active);
        CHECK(std::ranges::count(watch.Current(), device) == (row.consoleAfter ? 1 : 0));
    }
}

// On sysfs the watch keeps console/active open, to be told of changes, and reads nothing more
// until it is: it must neither lose what it read nor open the file again on every look.
TEST_CASE("The watch on sysfs holds one descriptor")
{
    if (::access("/sys/class/tty/console/active", R_OK) != 0) {
        MESSAGE("skipped: this system shows no /sys/class/tty/console/active");
        return;
    }
    const std::vector<dev_t> consoles = ActiveConsoles();
    const int before = OpenFileDescriptorCount();
    {
        ConsoleWatch watch;
        CHECK(OpenFileDescriptorCount() == before + 1);
        for (int look = 0; look < 100; ++look)
            REQUIRE(watch.Current() == consoles);
        CHECK(OpenFileDescriptorCount() == before + 1);
    }
    CHECK(OpenFileDescriptorCount() == before);
}

// A console that comes or goes cannot be caused here, so the kernel's mark is played by the test:
// the watch must keep what it read until told, and read again once told.
TEST_CASE("The watch reads again when told, and only then")
{
    TemporaryFolder dir;
    const std::filesystem::path sys = dir.path();
    PseudoTerminal console;
    const dev_t device = DeviceOf(console.devicePath());
    WriteFile(sys / "ttyS0" / "dev", DevFileText(device));
    WriteFile(sys / "console" / "active", "tty0\n");
    bool told = false;
    ConsoleWatch watch(
        sys, {[](int) { return true; }, [&](int) { return std::exchange(told, false); }});
    CHECK(std::ranges::count(watch.Current(), device) == 0);

    // No longer than what was read before: a read that went on from where the last one ended
    // would find nothing there.
    WriteFile(sys / "console" / "active", "ttyS0\n");
    CHECK(std::ranges::count(watch.Current(), device) == 0);
    told = true;
    CHECK(std::ranges::count(watch.Current(), device) == 1);
    CHECK(std::ranges::count(watch.Current(), device) == 1);
}
