#pragma once

#include <array>
#include <cstdint>

// A terminal's settings as the kernel keeps them (its termios2), with both speeds as numbers of
// baud. <termios.h> has no room for a speed that no B constant names (a port left at 250000 baud
// by a 3D printer's host, say), so settings read and given back through it would come back at our
// own 2400 baud; these come back as they were. The flag values are those of <termios.h>, and the
// fields keep the kernel's names.
namespace ostrim {

struct TerminalSettings
{
    std::uint32_t c_iflag = 0;
    std::uint32_t c_oflag = 0;
    std::uint32_t c_cflag = 0;
    std::uint32_t c_lflag = 0;
    std::uint8_t c_line = 0;
    std::array<std::uint8_t, 19> c_cc {};
    std::uint32_t c_ispeed = 0;
    std::uint32_t c_ospeed = 0;

    bool operator==(const TerminalSettings &) const = default;
};

// TCGETS2 and TCSETS2 (as TCSANOW): 0, or -1 with errno set.
int ReadTerminalSettings(int handle, TerminalSettings &settings);
int ApplyTerminalSettings(int handle, const TerminalSettings &settings);

} // namespace ostrim
