#include "pseudo_terminal.h"
#include "serial/posix/tty_driver.h"
#include "temporary_folder.h"

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <doctest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace ostrim;

namespace {

// The kernel's table as a machine with UARTs, a USB adapter and the usual terminals shows it.
constexpr std::string_view drivers
    = "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
      "/dev/console         /dev/console    5       1 system:console\n"
      "/dev/ptmx            /dev/ptmx       5       2 system\n"
      "/dev/vc/0            /dev/vc/0       4       0 system:vtmaster\n"
      "usbserial            /dev/ttyUSB   188 0-511 serial\n"
      "serial               /dev/ttyS       4 64-111 serial\n"
      "pty_slave            /dev/pts      136 0-1048575 pty:slave\n"
      "pty_master           /dev/ptm      128 0-1048575 pty:master\n"
      "unknown              /dev/tty        4 1-63 console\n";

} // namespace

TEST_CASE("A device is a port only where its tty driver is a serial or pseudo-terminal slave one")
{
    struct Row
    {
        const char *name;
        unsigned int major;
        unsigned int minor;
        std::string_view table;
        bool port;
    };
    const Row rows[] {
        {"ttyS0: serial", 4, 64, drivers, true},
        {"ttyUSB3: serial", 188, 3, drivers, true},
        {"pts/7: pseudo-terminal slave", 136, 7, drivers, true},
        {"ptmx: refused", 5, 2, drivers, false},
        {"tty: refused", 5, 0, drivers, false},
        {"tty0: refused", 4, 0, drivers, false},
        {"tty63, a virtual console: refused", 4, 63, drivers, false},
        {"a pseudo-terminal master: refused", 128, 0, drivers, false},
        {"null, no tty driver: refused", 1, 3, drivers, false},
        {"past the serial range: refused", 4, 112, drivers, false},
        {"no table, ptmx: refused", 5, 2, "", false},
        {"no table, tty63: refused", 4, 63, "", false},
        {"no table, ttyS0: a port", 4, 64, "", true},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(IsSerialPortDeviceIn(::makedev(row.major, row.minor), row.table) == row.port);
    }
}

// The machine's own nodes, only looked at: none is ever opened here.
TEST_CASE("This machine's terminals that are no ports are told by their driver")
{
    for (const char *path : {"/dev/ptmx", "/dev/tty", "/dev/console", "/dev/tty1", "/dev/tty63"}) {
        INFO(path);
        struct stat status = {};
        if (::stat(path, &status) != 0 || !S_ISCHR(status.st_mode)) {
            MESSAGE("skipped: this system has no device ", path);
            continue;
        }
        CHECK_FALSE(IsSerialPortDevice(status.st_rdev));
    }
    const PseudoTerminal port;
    struct stat status = {};
    REQUIRE(::stat(port.devicePath().c_str(), &status) == 0);
    CHECK(IsSerialPortDevice(status.st_rdev));
}

// The table is kept from one look to the next, as a line keeps it from press to press: what it
// knows of one port must not make its neighbours ports, and a driver loaded since must be seen.
TEST_CASE("A kept table judges every device as a fresh reading would")
{
    struct Look
    {
        std::string table; // as the kernel shows it at this look
        unsigned int major;
        unsigned int minor;
        bool port;
    };
    struct Row
    {
        std::string_view name;
        std::vector<Look> looks;
    };
    // Before the first USB adapter was plugged in and its driver loaded.
    const std::string before = "serial               /dev/ttyS       4 64-111 serial\n";
    const std::string after(drivers);
    const Row rows[] {
        {"tty63 after ttyS0, of the same major: refused",
            {{after, 4, 64, true}, {after, 4, 63, false}}},
        {"past the serial range after ttyS0: refused",
            {{after, 4, 64, true}, {after, 4, 112, false}}},
        {"ttyUSB0 after its driver was loaded: a port",
            {{before, 188, 0, false}, {after, 188, 0, true}}},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const TemporaryFolder proc;
        const std::filesystem::path table = proc.path() / "drivers";
        TtyDrivers kept(table);
        for (const Look &look : row.looks) {
            std::ofstream(table) << look.table;
            CHECK(kept.IsSerialPort(::makedev(look.major, look.minor)) == look.port);
        }
    }
}
