#pragma once

#include "output/output_command.h"
#include "output/set_outputs.h"
#include "serial/posix/system_ports.h"

#include <string>
#include <utility>
#include <vector>

// A face that only holds entries, for driving the action without widgets, and notes the message
// the action ended with, as the action gives it; the real faces have tests of their own.
class EntriesWindow final : public ostrim::GivenEntries
{
public:
    using GivenEntries::GivenEntries;

    std::vector<std::string> messages;
};

// One press of the face's button.
inline ostrim::ActionOutcome PressSetOutputs(EntriesWindow &window, ostrim::SerialLine &line)
{
    ostrim::ActionOutcome outcome = ostrim::SetOutputs(window, line);
    if (outcome.ending != ostrim::Ending::Sent)
        window.messages.push_back(outcome.message);
    return outcome;
}

// A machine whose serial ports are exactly these devices, pseudo-terminals in the tests: no test
// may reach a real port, and on some machines port 1 is the console.
inline ostrim::PortList PortsAre(std::vector<std::string> devices)
{
    return [devices = std::move(devices)] { return devices; };
}
