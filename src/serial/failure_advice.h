#pragma once

#include "runtime/action_error.h"

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
};

// The message, followed by what the user can do about the failure it tells of, chosen by the
// failure's reason; the message alone where there is nothing to do but read it.
std::string WithAdvice(
    const std::string &message, const std::optional<ActionError> &failure, const FaceWords &words);

} // namespace ostrim
