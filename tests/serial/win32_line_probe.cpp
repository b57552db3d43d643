// Drives the Win32 line on a real port for tests/serial/wine_serial_line.py, which watches the
// port from the Linux side of the pseudo-terminal Wine maps it to.
//   win32_line_probe list        the port list as --list-ports shows it
//   win32_line_probe send N      opens port N, says "open", waits for a line on standard input
//                                (the port is held meanwhile), then writes 0A A0 and closes
#include "runtime/action_error.h"
#include "serial/failure_advice.h"
#include "serial/win32/win32_line_backend.h"
#include "serial/win32/win32_ports.h"

#include <array>
#include <iostream>
#include <string>

using namespace ostrim;

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "list") {
        std::cout << Win32PortListText(SystemWin32Ports(), shellWords.deviceServer) << std::flush;
        return 0;
    }
    if (command != "send" || argc != 3)
        return 2;
    SerialPortLine line = Win32Line();
    try {
        line.SetPortNumber(static_cast<std::int16_t>(std::stoi(argv[2])));
        line.SetSettings("2400,N,8,1");
        line.Open();
        std::cout << "open" << std::endl;
        std::string go;
        std::getline(std::cin, go);
        constexpr std::array<std::uint8_t, 2> frame {0x0A, 0xA0};
        line.Write(frame);
        line.Close();
        std::cout << "sent" << std::endl;
        return 0;
    } catch (const ActionError &error) {
        std::cout << error.message() << (line.IsOpen() ? " [left open]" : "") << std::endl;
        return 1;
    }
}
