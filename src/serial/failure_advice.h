#pragma once

#include "runtime/action_error.h"
#include "serial/port_details.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrim {

// How a face tells the user to go on, in its own words: a window's user presses a button, a
// shell's user runs a command again.
struct FaceWords
{
    std::string_view closeHolder; // the port is in use
    std::string_view otherPort; // the port is the console
    std::string_view deviceServer; // no port here can be used: the way to a device server
};

// What a window's user is told to do: they press a button to try again.
inline constexpr FaceWords windowWords {
    "Close it and press again.", "Enter another port.", windowDeviceServerText};
// What a shell's user is told to do: there is no button to press again.
inline constexpr FaceWords shellWords {"Close it and try again.",
    "Choose another port: ostrim --list-ports lists them.", shellDeviceServerText};

// What only this system's users can do about a failure, whatever face they use; empty where this
// system has nothing to add.
std::string SystemAdvice(const ActionError &failure);

// The message, followed by what the user can do about the failure it tells of, chosen by the
// failure's reason; the message alone where there is nothing to do but read it.
std::string WithAdvice(
    const std::string &message, const std::optional<ActionError> &failure, const FaceWords &words);

} // namespace ostrim
