#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrim {

// What the system tells of one serial port, for a user choosing among them.
struct PortDetails
{
    std::string device {};
    std::string description {};
    std::string manufacturer {};
    std::string serialNumber {};
    std::optional<std::uint16_t> vendorId {};
    std::optional<std::uint16_t> productId {};
    bool console = false;
    // Names the system gave the port that outlive re-enumeration: /dev/serial/by-id/...,
    // /dev/serial/by-path/...
    std::vector<std::string> lastingNames {};
};

// What to say where every port is a console: there is no other port to choose or enter.
inline constexpr std::string_view noUsablePortText
    = "No port here can be used, since Ostrim never writes to the system console: plug in a USB "
      "serial adapter, and it shows up as a new port.";

// Where no port here can be used, a board behind a serial device server still can be, by its
// address. The window takes no address, so its users are sent to the command line; a line's
// message, which either face may show, says it as the window does.
inline constexpr std::string_view shellDeviceServerText
    = "A board behind a serial device server is reached with --device rfc2217://HOST:PORT.";
inline constexpr std::string_view windowDeviceServerText
    = "A board behind a serial device server is reached from the command line: ostrim --device "
      "rfc2217://HOST:PORT.";

// Whether there are ports but every one of them is a console.
bool NoUsablePort(const std::vector<PortDetails> &ports);

// Puts the known details to the devices, in the devices' order.
std::vector<PortDetails> MatchPortDetails(const std::vector<std::string> &devices,
    const std::vector<PortDetails> &known,
    const std::function<bool(const std::string &)> &isConsole);

// The number the user gives for a port: its place in the list unless the system numbers its ports.
using PortNumbering = std::function<std::size_t(std::size_t index, const PortDetails &port)>;

// One line per port under its number, e.g.
// "2 = /dev/ttyUSB0: FT232R USB UART, FTDI, serial number A9X1, USB 0403:6001", followed by an
// indented line for each of its lasting names; with no port at all the line none, and with none
// but consoles a line saying what to do. Where no port can be used, a last line tells the way to
// a device server, deviceServer, in the words of the face that shows the list.
std::string PortListText(const std::vector<PortDetails> &ports, std::string_view none,
    std::string_view deviceServer, const PortNumbering &numbering = {});

// For a message about a port that does not exist: "This system has 2 serial ports: " and the
// ports as the user knows them, or none where there is no port at all, followed by the way to a
// device server.
std::string PortsSummary(const std::vector<std::string> &ports, std::string_view none);

// The numbered ports in that form: "This system has 2 serial ports: 1 = /dev/ttyS0 (the system
// console), 2 = /dev/ttyUSB0", and what to do where every one is a console.
std::string PortCountText(const std::vector<PortDetails> &ports, std::string_view none);

} // namespace ostrim
