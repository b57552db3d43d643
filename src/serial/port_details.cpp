#include "serial/port_details.h"

#include "runtime/message_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ostrim {
namespace {

std::string Hex4(std::uint16_t value)
{
    std::array<char, 5> text {};
    std::snprintf(text.data(), text.size(), "%04x", static_cast<unsigned>(value));
    return text.data();
}

std::vector<std::string> KnownFacts(const PortDetails &port)
{
    std::vector<std::string> facts;
    if (!port.description.empty())
        facts.push_back(Printable(port.description));
    if (!port.manufacturer.empty())
        facts.push_back(Printable(port.manufacturer));
    if (!port.serialNumber.empty())
        facts.push_back("serial number " + Printable(port.serialNumber));
    if (port.vendorId && port.productId)
        facts.push_back("USB " + Hex4(*port.vendorId) + ":" + Hex4(*port.productId));
    return facts;
}

// The port's number and device, the console marked wherever ports are listed:
// "1 = /dev/ttyS0 (the system console)".
std::string NumberedPort(std::size_t number, const PortDetails &port)
{
    return std::to_string(number) + " = " + Printable(port.device)
        + (port.console ? " (the system console)" : "");
}

// One port's line in the list, under the number the user gives for it.
std::string PortLine(std::size_t number, const PortDetails &port)
{
    std::string line = NumberedPort(number, port);
    const std::vector<std::string> facts = KnownFacts(port);
    for (std::size_t index = 0; index < facts.size(); ++index)
        line += (index == 0 ? ": " : ", ") + facts[index];
    for (const std::string &name : port.lastingNames)
        line += "\n    " + Printable(name);
    return line;
}

} // namespace

bool NoUsablePort(const std::vector<PortDetails> &ports)
{
    return !ports.empty() && std::ranges::all_of(ports, &PortDetails::console);
}

std::vector<PortDetails> MatchPortDetails(const std::vector<std::string> &devices,
    const std::vector<PortDetails> &known,
    const std::function<bool(const std::string &)> &isConsole)
{
    std::vector<PortDetails> ports;
    for (const std::string &device : devices) {
        const auto found = std::ranges::find(known, device, &PortDetails::device);
        PortDetails port = found != known.end() ? *found : PortDetails {device};
        port.console = isConsole(device);
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string PortListText(const std::vector<PortDetails> &ports, std::string_view none,
    std::string_view deviceServer, const PortNumbering &numbering)
{
    if (ports.empty())
        return std::string(none) + "\n" + std::string(deviceServer) + "\n";
    std::string text;
    for (std::size_t index = 0; index < ports.size(); ++index) {
        const std::size_t number = numbering ? numbering(index, ports[index]) : index + 1;
        text += PortLine(number, ports[index]) + "\n";
    }
    if (NoUsablePort(ports))
        text += std::string(noUsablePortText) + "\n" + std::string(deviceServer) + "\n";
    return text;
}

std::string PortsSummary(const std::vector<std::string> &ports, std::string_view none)
{
    if (ports.empty())
        return std::string(none) + " " + std::string(windowDeviceServerText);
    std::string text = "This system has " + std::to_string(ports.size())
        + (ports.size() == 1 ? " serial port: " : " serial ports: ");
    for (std::size_t index = 0; index < ports.size(); ++index)
        text += (index == 0 ? "" : ", ") + ports[index];
    return text;
}

std::string PortCountText(const std::vector<PortDetails> &ports, std::string_view none)
{
    std::vector<std::string> numbered;
    for (std::size_t index = 0; index < ports.size(); ++index)
        numbered.push_back(NumberedPort(index + 1, ports[index]));
    const std::string text = PortsSummary(numbered, none);
    return NoUsablePort(ports)
        ? text + ". " + std::string(noUsablePortText) + " " + std::string(windowDeviceServerText)
        : text;
}

} // namespace ostrim
