#include "serial/win32/win32_ports.h"
#include "table_test.h"

using namespace ostrim;
using namespace ostrim::test;

namespace {

// As a Windows 10 machine gave them: a built-in port, two USB adapters, a Bluetooth link, a port
// that only its driver's map knows (as under Wine), and a pair of virtual ports that are not COMn.
const Win32PortRecord recorded {
    {"COM1", "COM3", "COM10", "COM4", "COM2", "CNCA0", "COM3"},
    {
        {"COM10", "USB-SERIAL CH340 (COM10)", "wch.cn",
            {"USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523"}},
        {"COM3", "USB Serial Port (COM3)", "FTDI", {"FTDIBUS\\VID_0403+PID_6001+A9X1B2C3A\\0000"}},
        {"COM1", "Communications Port (COM1)", "(Standard port types)", {"ACPI\\PNP0501"}},
        {"COM4", "Standard Serial over Bluetooth link (COM4)", "Microsoft",
            {"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_VID&0001005d_PID&0223"}},
        {"CNCB0", "com0com - serial port emulator CNCB0", "Vyacheslav Frolov", {"com0com\\port"}},
        {"com7", "Prolific USB-to-Serial Comm Port (COM7)", "Prolific",
            {"USB\\VID_067B&PID_2303&REV_0300"}},
    },
};

} // namespace

TEST_CASE("Port names: COMn from 1 to 255 and nothing else")
{
    struct Row
    {
        std::string_view name;
        std::string_view number;
    };
    constexpr Row rows[] {
        {"COM1", "1"},
        {"com12", "12"},
        {"COM255", "255"},
        {"COM256", "none"},
        {"COM0", "none"},
        {"COM01", "none"},
        {"COM-5", "none"},
        {"COM", "none"},
        {"COM3x", "none"},
        {"LPT1", "none"},
        {"XCOM1", "none"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const std::optional<int> number = ComNumber(row.name);
        CHECK((number ? std::to_string(*number) : "none") == row.number);
    }
}

TEST_CASE("The port list from what Windows records, in COM-number order")
{
    CHECK(Win32PortListText(Win32Ports(recorded), "Far away.")
        == "1 = COM1: Communications Port, (Standard port types)\n"
           "2 = COM2\n"
           "3 = COM3: USB Serial Port, FTDI, USB 0403:6001\n"
           "4 = COM4: Standard Serial over Bluetooth link, Microsoft\n"
           "7 = COM7: Prolific USB-to-Serial Comm Port, Prolific, USB 067b:2303\n"
           "10 = COM10: USB-SERIAL CH340, wch.cn, USB 1a86:7523\n");
    CHECK(Win32PortsSummary(Win32Ports({{"COM3", "COM1"}, {recorded.devices[1]}}))
        == "This system has 2 serial ports: COM1, COM3 (USB Serial Port)");
    CHECK(Win32PortsSummary(Win32Ports({{"COM12"}, {{"COM12", "Modem\x1b[2J (COM12)"}}}))
        == "This system has 1 serial port: COM12 (Modem?[2J)");
    CHECK(Win32PortListText({}, "Far away.")
        == "This system has no serial port: check that the adapter is plugged in.\nFar away.\n");
    CHECK(Win32PortsSummary({})
        == "This system has no serial port: check that the adapter is plugged in. "
            + std::string(windowDeviceServerText));
}
