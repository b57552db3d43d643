#include "serial/port_details.h"

#include <doctest.h>

using namespace ostrim;

TEST_CASE("A port's line says what the system tells of it, and nothing it cannot show")
{
    struct Row
    {
        std::string_view name;
        PortDetails port;
        std::string line;
    };
    const Row rows[] {
        {"USB adapter with everything known",
            {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A9X1", 0x0403, 0x6001},
            "1 = /dev/ttyUSB0: FT232R USB UART, FTDI, serial number A9X1, USB 0403:6001"},
        {"ids keep their leading zeros, in lower case",
            {"/dev/ttyACM0", {}, {}, {}, 0x000a, 0x00fe}, "1 = /dev/ttyACM0: USB 000a:00fe"},
        {"the console marked; the only port, so none can be used: the way to a device server",
            {"/dev/ttyS0", "built-in", {}, {}, {}, {}, true},
            "1 = /dev/ttyS0 (the system console): built-in\nNo port here can be used, since Ostrim "
            "never writes to the system console: plug in a USB serial adapter, and it shows up as "
            "a new port.\nFar away."},
        {"nothing known: the device alone", {"/dev/ttyS1"}, "1 = /dev/ttyS1"},
        {"a vendor id without product id is left out", {"/dev/ttyUSB1", {}, "Acme", {}, 0x1234, {}},
            "1 = /dev/ttyUSB1: Acme"},
        {"lasting names on lines of their own",
            {"/dev/ttyUSB0", {}, {}, {}, {}, {}, false,
                {"/dev/serial/by-id/usb-Acme-if00-port0", "/dev/serial/by-path/pci-0:2:1.0-port0"}},
            "1 = /dev/ttyUSB0\n    /dev/serial/by-id/usb-Acme-if00-port0\n"
            "    /dev/serial/by-path/pci-0:2:1.0-port0"},
        {"control characters from the device shown as ?",
            {"/dev/ttyUSB0", "Evil\x1b[2J", "Line\nBreak", "\x7f"},
            "1 = /dev/ttyUSB0: Evil?[2J, Line?Break, serial number ?"},
        {"C1 controls as UTF-8 shown as ?, other characters as they are",
            {"/dev/ttyUSB0",
                "Evil\xc2\x9b"
                "2J caf\xc3\xa9"},
            "1 = /dev/ttyUSB0: Evil?2J caf\xc3\xa9"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(PortListText({row.port}, "none", "Far away.") == row.line + "\n");
    }
}

TEST_CASE("The list numbers the ports in its order, each matched to what is known of it")
{
    const std::vector<PortDetails> known {{"/dev/ttyUSB1", "second adapter"},
        {"/dev/ttyUSB0", "first adapter"}, {"/dev/ttyX9", "gone"}};
    const std::vector<PortDetails> ports
        = MatchPortDetails({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/pts/3"}, known,
            [](const std::string &device) { return device == "/dev/ttyS0"; });
    CHECK(PortListText(ports, "none", "Far away.")
        == "1 = /dev/ttyS0 (the system console)\n"
           "2 = /dev/ttyUSB0: first adapter\n"
           "3 = /dev/ttyUSB1: second adapter\n"
           "4 = /dev/pts/3\n");
    CHECK(PortListText({}, "No port.", "Far away.") == "No port.\nFar away.\n");
}

// Either face may show a line's message, and the window takes no address: where no port can be
// used, the message sends its user to the command line.
TEST_CASE("A message's count of the ports tells the way to a device server where none can be used")
{
    const std::string elsewhere(windowDeviceServerText);
    const PortDetails console {"/dev/ttyS0", {}, {}, {}, {}, {}, true};
    const PortDetails adapter {"/dev/ttyUSB0"};
    struct Row
    {
        std::string_view name;
        std::vector<PortDetails> ports;
        std::string text;
    };
    const Row rows[] {
        {"no port at all", {}, "No port. " + elsewhere},
        {"only the console", {console},
            "This system has 1 serial port: 1 = /dev/ttyS0 (the system console). "
                + std::string(noUsablePortText) + " " + elsewhere},
        {"a port beside the console: nothing more", {console, adapter},
            "This system has 2 serial ports: 1 = /dev/ttyS0 (the system console), 2 = "
            "/dev/ttyUSB0"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(PortCountText(row.ports, "No port.") == row.text);
    }
}
