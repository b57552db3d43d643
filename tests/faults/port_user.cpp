// Another program on the same port, for the fault tests: it holds the port the way other serial
// programs do, or presses "Set Outputs" in a loop as a second copy of this program would.
//
//   port_user hold-flock DEVICE         open(2) and flock(LOCK_EX) it
//   port_user hold-shared-flock DEVICE  open(2) and flock(LOCK_SH) it
//   port_user hold-exclusive DEVICE     open(2) and claim the terminal with TIOCEXCL
//   port_user hold-both DEVICE          both, as a copy of this program holds it while it sends
//   port_user wait                      hold nothing: a live process for a lock file to name
//   port_user press DEVICE ADDRESS COUNT
//
// A holder writes "HELD" to the port, prints "ready" and keeps the port until its standard input
// closes. The presser sends COUNT frames (ADDRESS, 0xF0) to port 1 = DEVICE and prints one line
// per press: "sent", or the message the user would have seen.
#include "action_fixtures.h"
#include "output/set_outputs.h"
#include "serial/posix/posix_line_backend.h"

#include <cstdio>
#include <iostream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr char heldData[] = "HELD";

void WaitForStandardInputToClose()
{
    std::cout << "ready" << std::endl;
    std::string ignored;
    while (std::getline(std::cin, ignored)) { }
}

// Holds the port as terminal programs do: claimed one way or the other, or both, and written to.
// The flock is LOCK_EX or LOCK_SH, or 0 for none.
int Hold(const std::string &device, int flock, bool exclusive)
{
    const int handle = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    const bool claimed = handle >= 0 && (flock == 0 || ::flock(handle, flock) == 0)
        && (!exclusive || ::ioctl(handle, TIOCEXCL) == 0);
    if (!claimed) {
        std::perror(device.c_str());
        return 1;
    }
    if (::write(handle, heldData, sizeof heldData - 1) != sizeof heldData - 1)
        return 1;
    WaitForStandardInputToClose();
    ::close(handle);
    return 0;
}

int PressRepeatedly(const std::string &device, const std::string &address, int count)
{
    ostrim::SerialPortLine line = ostrim::PosixLine(PortsAre({device}));
    for (int press = 0; press < count; ++press) {
        EntriesWindow window("1", address, {1, 1, 1, 1});
        PressSetOutputs(window, line);
        std::cout << (window.messages.empty() ? "sent" : window.messages.front()) << '\n';
    }
    std::cout.flush();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hold-flock" && argc == 3)
        return Hold(argv[2], LOCK_EX, false);
    if (mode == "hold-shared-flock" && argc == 3)
        return Hold(argv[2], LOCK_SH, false);
    if (mode == "hold-exclusive" && argc == 3)
        return Hold(argv[2], 0, true);
    if (mode == "hold-both" && argc == 3)
        return Hold(argv[2], LOCK_EX, true);
    if (mode == "wait") {
        WaitForStandardInputToClose();
        return 0;
    }
    if (mode == "press" && argc == 5)
        return PressRepeatedly(argv[2], argv[3], std::stoi(argv[4]));
    std::cerr << "usage: port_user hold-flock|hold-shared-flock|hold-exclusive|hold-both DEVICE "
                 "| wait | press DEVICE ADDRESS COUNT\n";
    return 2;
}
