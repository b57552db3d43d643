#include "output/set_outputs.h"

#include "runtime/message_text.h"
#include "runtime/readings.h"
#include "serial/serial_line.h"

#include <exception>
#include <limits>

namespace ostrim {
namespace {

// An entry as the user knows it, for the failures of reading it.
struct Entry
{
    std::string_view name;
    std::string highest;
    std::string_view lowest;
};

Entry PortEntry()
{
    return {"Port",
        "the highest port is " + std::to_string(std::numeric_limits<std::int16_t>::max()),
        "ports are numbered from 1"};
}

Entry AddressEntry()
{
    return {"Board address",
        "the highest address is " + std::to_string(std::numeric_limits<std::uint8_t>::max()),
        "the lowest address is 1"};
}

// The readings' failures say what went wrong with a number; the user needs to hear which entry,
// and what it takes. The kind and number stay, for scripts and tests.
ActionError InUsersTerms(const Entry &entry, std::string_view text, const ActionError &error)
{
    const std::string_view typed = TrimBlanks(text);
    std::string message = std::string(entry.name) + " ";
    if (error.kind() == FailureKind::TypeMismatch)
        message += QuoteForMessage(typed) + " is not a number.";
    else if (typed.starts_with('-'))
        message += ShownForMessage(typed) + " is too small: " + std::string(entry.lowest) + ".";
    else
        message += ShownForMessage(typed) + " is too large: " + std::string(entry.highest) + ".";
    return ActionError(error.kind(), error.number(), message, error.reason());
}

template<typename Reading>
auto Read(Entry (*entry)(), std::string_view text, Reading reading)
{
    try {
        return reading();
    } catch (const ActionError &error) {
        throw InUsersTerms(entry(), text, error);
    }
}

OutputStates ReadOutputStates(const ActionEntries &entries)
{
    OutputStates states {};
    for (int index = 0; index < static_cast<int>(states.size()); ++index)
        states[static_cast<std::size_t>(index)] = entries.OutputState(index);
    return states;
}

// The failure's own text stays first; a port that will not close is added to it rather than
// replacing it, so the user learns both what went wrong and that the port may still be held.
std::string CloseAfterFailure(SerialLine &line, std::string message)
{
    try {
        if (line.IsOpen())
            line.Close();
    } catch (const std::exception &closeFailure) {
        message += "\nThe port could not be closed: ";
        message += closeFailure.what();
    }
    return message;
}

} // namespace

ActionOutcome SetOutputs(const ActionEntries &entries, SerialLine &line)
{
    std::optional<ActionError> failure;
    try {
        const std::string portText = entries.PortText();
        if (!(Read(PortEntry, portText, [&] { return LeadingNumber(portText); }) > 0))
            return {Ending::InvalidPort, {}, 0, {}, InvalidPortMessage, {}};
        const std::int16_t portNumber
            = Read(PortEntry, portText, [&] { return ToInt16(LeadingNumber(portText)); });
        line.SetPortNumber(portNumber);
        line.SetSettings(LineSettingsText);

        const std::int16_t mask = OutputMask(ReadOutputStates(entries));

        const std::string addressText = entries.AddressText();
        if (!(Read(AddressEntry, addressText, [&] { return LeadingNumber(addressText); }) > 0))
            return {Ending::InvalidAddress, {}, 0, {}, InvalidAddressMessage, {}};
        // The address's own checks only: the mask's, in the same frame, are not the address's.
        const std::uint8_t address
            = Read(AddressEntry, addressText, [&] { return CodeToByte(TextToInt32(addressText)); });
        const Frame frame = OutputCommand(address, mask);

        line.Open();
        line.Write(frame);
        line.Close();
        return {Ending::Sent, frame, portNumber, line.Device(), {}, {}};
    } catch (const ActionError &error) {
        failure = error;
    } catch (const std::exception &error) {
        // Only the line does more than read numbers, so whatever else went wrong went wrong there.
        failure.emplace(FailureKind::SerialLine, error.what());
    }
    ActionOutcome outcome;
    outcome.message = CloseAfterFailure(line, failure->message());
    outcome.failure = std::move(failure);
    return outcome;
}

} // namespace ostrim
