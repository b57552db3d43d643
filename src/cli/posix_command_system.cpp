#include "cli/posix_command_system.h"

#include "serial/failure_advice.h"
#include "serial/port_details.h"

#include <iostream>

namespace ostrim {

CommandSystem PosixCommandSystem(PortList ports, PortListing listing, LineEnvironment environment)
{
    return {
        NetworkOrPortLine([ports = std::move(ports), environment = std::move(environment)](
                              std::optional<OneDevice> device) {
            return PosixLine(ports, environment, std::move(device));
        }),
        [listing = std::move(listing)] {
            return PortListText(listing(), noSerialPortText, shellWords.deviceServer);
        },
    };
}

int RunCommandLine(int argc, char *argv[])
{
    return RunCommand(ParseCommandLine(std::vector<std::string>(argv, argv + argc)),
        PosixCommandSystem(), std::cout, std::cerr);
}

} // namespace ostrim
