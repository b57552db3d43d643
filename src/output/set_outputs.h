#pragma once

#include <cstdint>
#include <string>

namespace ostrim {

class SerialLine;

// What the action needs of the window: each entry is read at the step that uses it.
class ActionWindow
{
public:
    virtual ~ActionWindow() = default;

    virtual std::string PortText() const = 0;
    virtual std::string AddressText() const = 0;
    // Index 0 is "Output 1"; 0 is not ticked, 1 is ticked.
    virtual std::int16_t OutputState(int index) const = 0;
    // Modal: returns once the user has dismissed the message.
    virtual void ShowMessage(const std::string &text) = 0;
};

inline constexpr char InvalidPortMessage[] = "Invalid communications port";
inline constexpr char InvalidAddressMessage[] = "Invalid board address";
inline constexpr char LineSettingsText[] = "2400,N,8,1";

// Sends one frame to the board from what the window holds. Ends in exactly one of four ways:
// the frame sent and nothing shown, one of the two messages above, or the failure's message with
// the port closed.
void SetOutputs(ActionWindow &window, SerialLine &line);

} // namespace ostrim
