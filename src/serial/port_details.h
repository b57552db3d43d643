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

// Puts the known details to the devices, in the devices' order.
std::vector<PortDetails> MatchPortDetails(const std::vector<std::string> &devices,
    const std::vector<PortDetails> &known,
    const std::function<bool(const std::string &)> &isConsole);

// The number the user gives for a port: its place in the list unless the system numbers its ports.
using PortNumbering = std::function<std::size_t(std::size_t index, const PortDetails &port)>;

// One line per port under its number, e.g.
// "2 = /dev/ttyUSB0: FT232R USB UART, FTDI, serial number A9X1, USB 0403:6001", followed by an
// indented line for each of its lasting names; with no port at all, the line none.
std::string PortListText(const std::vector<PortDetails> &ports, std::string_view none,
    const PortNumbering &numbering = {});

// For a port that does not exist: "This system has 2 serial ports: " and the ports as the user
// knows them, or none where there is no port at all.
std::string PortsSummary(const std::vector<std::string> &ports, std::string_view none);

// One port's line in that list, under the number the user gives for it.
std::string PortLine(std::size_t number, const PortDetails &port);

} // namespace ostrim
