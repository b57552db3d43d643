#include "serial/posix/terminal_settings.h"

#include <algorithm>

// The kernel's own termios header; it cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ostrim {
namespace {

static_assert(std::tuple_size_v<decltype(TerminalSettings::c_cc)> == NCCS,
    "TerminalSettings holds as many control characters as the kernel's termios2");

TerminalSettings FromKernel(const termios2 &kernel)
{
    TerminalSettings settings;
    settings.c_iflag = kernel.c_iflag;
    settings.c_oflag = kernel.c_oflag;
    settings.c_cflag = kernel.c_cflag;
    settings.c_lflag = kernel.c_lflag;
    settings.c_line = kernel.c_line;
    std::copy(std::begin(kernel.c_cc), std::end(kernel.c_cc), settings.c_cc.begin());
    settings.c_ispeed = kernel.c_ispeed;
    settings.c_ospeed = kernel.c_ospeed;
    return settings;
}

termios2 ToKernel(const TerminalSettings &settings)
{
    termios2 kernel {};
    kernel.c_iflag = settings.c_iflag;
    kernel.c_oflag = settings.c_oflag;
    kernel.c_cflag = settings.c_cflag;
    kernel.c_lflag = settings.c_lflag;
    kernel.c_line = settings.c_line;
    std::copy(settings.c_cc.begin(), settings.c_cc.end(), std::begin(kernel.c_cc));
    kernel.c_ispeed = settings.c_ispeed;
    kernel.c_ospeed = settings.c_ospeed;
    return kernel;
}

} // namespace

int ReadTerminalSettings(int handle, TerminalSettings &settings)
{
    termios2 kernel {};
    if (::ioctl(handle, TCGETS2, &kernel) != 0)
        return -1;
    settings = FromKernel(kernel);
    return 0;
}

int ApplyTerminalSettings(int handle, const TerminalSettings &settings)
{
    const termios2 kernel = ToKernel(settings);
    return ::ioctl(handle, TCSETS2, &kernel);
}

} // namespace ostrim
