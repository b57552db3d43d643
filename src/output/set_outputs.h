#pragma once

#include "output/output_command.h"
#include "runtime/action_error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace ostrim {

class SerialLine;

// What the action reads of the face that runs it: each entry is read at the step that uses it.
class ActionEntries
{
public:
    virtual ~ActionEntries() = default;

    virtual std::string PortText() const = 0;
    virtual std::string AddressText() const = 0;
    // Index 0 is "Output 1"; 0 is not ticked, 1 is ticked.
    virtual std::int16_t OutputState(int index) const = 0;
};

// Entries known before the action runs, as a command line's.
class GivenEntries : public ActionEntries
{
public:
    GivenEntries(std::string port, std::string address, OutputStates states)
        : m_port(std::move(port))
        , m_address(std::move(address))
        , m_states(states)
    { }

    std::string PortText() const override { return m_port; }
    std::string AddressText() const override { return m_address; }
    std::int16_t OutputState(int index) const override
    {
        return m_states.at(static_cast<std::size_t>(index));
    }

private:
    std::string m_port;
    std::string m_address;
    OutputStates m_states;
};

inline constexpr char InvalidPortMessage[] = "Invalid communications port";
inline constexpr char InvalidAddressMessage[] = "Invalid board address";
inline constexpr char LineSettingsText[] = "2400,N,8,1";

enum class Ending { Sent, InvalidPort, InvalidAddress, Failed };

// How one run of the action ended; the face that ran it tells the user.
struct ActionOutcome
{
    Ending ending = Ending::Failed;
    // Sent: the frame, and where it went; the device is empty where the line has no name for it.
    Frame frame {};
    std::int16_t portNumber = 0;
    std::string device;
    // Every other ending: what the user is told, and for a failure, the failure itself (its kind,
    // number and reason), with the port closed.
    std::string message;
    std::optional<ActionError> failure;
};

// Sends one frame to the board from the entries. Ends in exactly one of four ways: the frame
// sent, one of the two messages above, or a failure with the port closed.
ActionOutcome SetOutputs(const ActionEntries &entries, SerialLine &line);

} // namespace ostrim
