#include "cli/posix_command_system.h"

#include "serial/failure_advice.h"
#include "serial/network/network_line.h"
#include "serial/port_details.h"

#include <iostream>

namespace ostrim {
namespace {

// What the user can do, said for a shell: there is no button to press again.
constexpr FaceWords terminalWords {
    "Close it and try again.", "Choose another port: ostrim --list-ports lists them."};

} // namespace

CommandSystem PosixCommandSystem(PortList ports, PortListing listing, LineEnvironment environment)
{
    return {
        [ports = std::move(ports), environment = std::move(environment)](
            const std::string &device) -> std::unique_ptr<SerialLine> {
            if (device.empty())
                return std::make_unique<PosixSerialLine>(ports, environment);
            if (std::unique_ptr<SerialLine> network = NetworkLineFor(device))
                return network;
            return std::make_unique<PosixSerialLine>(OneDevice {device}, environment);
        },
        [listing = std::move(listing)] { return PortListText(listing()); },
        [](const std::string &message, const std::optional<ActionError> &failure) {
            return WithAdvice(message, failure, terminalWords);
        },
    };
}

int RunCommandLine(int argc, char *argv[])
{
    return RunCommand(ParseCommandLine(std::vector<std::string>(argv, argv + argc)),
        PosixCommandSystem(), std::cout, std::cerr);
}

} // namespace ostrim
