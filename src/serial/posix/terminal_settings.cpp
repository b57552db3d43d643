#include "serial/posix/terminal_settings.h"

#include <algorithm>

// The kernel's own termios header; it cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ostrim {
namespace {

static_assert(std::tuple_size_v<decltype(TerminalSettings::c_cc)> == NCCS,
    "TerminalSettings holds as many control characters as the kernel's termios2");

// Either way between the kernel's struct and ours, whose fields have the same names.
template<typename To, typename From>
To Converted(const From &from)
{
    To to {};
    to.c_iflag = from.c_iflag;
    to.c_oflag = from.c_oflag;
    to.c_cflag = from.c_cflag;
    to.c_lflag = from.c_lflag;
    to.c_line = from.c_line;
    std::copy(std::begin(from.c_cc), std::end(from.c_cc), std::begin(to.c_cc));
    to.c_ispeed = from.c_ispeed;
    to.c_ospeed = from.c_ospeed;
    return to;
}

} // namespace

int ReadTerminalSettings(int handle, TerminalSettings &settings)
{
    termios2 kernel {};
    if (::ioctl(handle, TCGETS2, &kernel) != 0)
        return -1;
    settings = Converted<TerminalSettings>(kernel);
    return 0;
}

int ApplyTerminalSettings(int handle, const TerminalSettings &settings)
{
    const auto kernel = Converted<termios2>(settings);
    return ::ioctl(handle, TCSETS2, &kernel);
}

} // namespace ostrim
