#include "output/set_outputs.h"

#include "output/output_command.h"
#include "runtime/readings.h"
#include "serial/serial_line.h"

#include <exception>

namespace ostrim {
namespace {

OutputStates ReadOutputStates(const ActionWindow &window)
{
    OutputStates states {};
    for (int index = 0; index < static_cast<int>(states.size()); ++index)
        states[static_cast<std::size_t>(index)] = window.OutputState(index);
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

void SetOutputs(ActionWindow &window, SerialLine &line)
{
    std::string failure;
    try {
        const std::string portText = window.PortText();
        if (!(LeadingNumber(portText) > 0)) {
            window.ShowMessage(InvalidPortMessage);
            return;
        }
        line.SetPortNumber(ToInt16(LeadingNumber(portText)));
        line.SetSettings(LineSettingsText);

        const std::int16_t mask = OutputMask(ReadOutputStates(window));

        const std::string addressText = window.AddressText();
        if (!(LeadingNumber(addressText) > 0)) {
            window.ShowMessage(InvalidAddressMessage);
            return;
        }
        const Frame frame = OutputCommand(TextToInt32(addressText), mask);

        line.Open();
        line.Write(frame);
        line.Close();
        return;
    } catch (const std::exception &error) {
        failure = error.what();
    }
    window.ShowMessage(CloseAfterFailure(line, failure));
}

} // namespace ostrim
