// Another program on the same port, for the fault tests: it holds the port the way other serial
// programs do, or presses "Set Outputs" in a loop as a second copy of this program would.
//
//   port_user hold-lock DEVICE       open through QSerialPort (which takes its lock file)
//   port_user hold-exclusive DEVICE  open(2) and claim the terminal with TIOCEXCL
//   port_user press DEVICE ADDRESS COUNT
//
// A holder writes "HELD" to the port, prints "ready" and keeps the port until its standard input
// closes. The presser sends COUNT frames (ADDRESS, 0xF0) to port 1 = DEVICE and prints one line
// per press: "sent", or the message the user would have seen.
#include "action_fixtures.h"
#include "output/set_outputs.h"
#include "serial/qt_serial_line.h"

#include <cstdio>
#include <iostream>
#include <string>

#include <QCoreApplication>
#include <QSerialPort>

#include <fcntl.h>
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

int HoldWithLock(const QString &device)
{
    QSerialPort port(device);
    if (!port.open(QIODevice::ReadWrite)) {
        std::cerr << "cannot open " << device.toStdString() << ": "
                  << port.errorString().toStdString() << '\n';
        return 1;
    }
    port.write(heldData);
    port.waitForBytesWritten(1000);
    WaitForStandardInputToClose();
    return 0;
}

int HoldExclusively(const std::string &device)
{
    const int handle = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    if (handle < 0 || ::ioctl(handle, TIOCEXCL) != 0) {
        std::perror(device.c_str());
        return 1;
    }
    if (::write(handle, heldData, sizeof heldData - 1) != sizeof heldData - 1)
        return 1;
    WaitForStandardInputToClose();
    ::close(handle);
    return 0;
}

int Press(const std::string &device, const std::string &address, int count)
{
    ostrim::QtSerialLine line(PortsAre({device}));
    for (int press = 0; press < count; ++press) {
        EntriesWindow window("1", address, {1, 1, 1, 1});
        ostrim::SetOutputs(window, line);
        std::cout << (window.messages.isEmpty() ? "sent" : window.messages.front().toStdString())
                  << '\n';
    }
    std::cout.flush();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "hold-lock" && argc == 3)
        return HoldWithLock(QString::fromLocal8Bit(argv[2]));
    if (mode == "hold-exclusive" && argc == 3)
        return HoldExclusively(argv[2]);
    if (mode == "press" && argc == 5)
        return Press(argv[2], argv[3], std::stoi(argv[4]));
    std::cerr << "usage: port_user hold-lock|hold-exclusive DEVICE | press DEVICE ADDRESS COUNT\n";
    return 2;
}
