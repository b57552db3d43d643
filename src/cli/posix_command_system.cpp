#include "cli/posix_command_system.h"

#include "serial/network/network_line.h"
#include "serial/port_details.h"

#include <iostream>

namespace ostrim {

CommandSystem PosixCommandSystem(PortList ports, PortListing listing, LineEnvironment environment)
{
    return {
        [ports = std::move(ports), environment = std::move(environment)](
            const std::string &device) -> std::unique_ptr<SerialLine> {
            if (device.empty())
                return std::make_unique<SerialPortLine>(PosixLine(ports, environment));
            if (std::unique_ptr<SerialLine> network = NetworkLineFor(device))
                return network;
            return std::make_unique<SerialPortLine>(PosixLine(OneDevice {device}, environment));
        },
        [listing = std::move(listing)] { return PortListText(listing(), noSerialPortText); },
    };
}

int RunCommandLine(int argc, char *argv[])
{
    return RunCommand(ParseCommandLine(std::vector<std::string>(argv, argv + argc)),
        PosixCommandSystem(), std::cout, std::cerr);
}

} // namespace ostrim
