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

// What the user can do about the failure, chosen by its reason; empty where there is nothing to
// do but read the message.
std::string Advice(const ActionError &failure, const FaceWords &words);

// The message, followed by the advice on the failure it tells of, if any.
std::string WithAdvice(
    const std::string &message, const std::optional<ActionError> &failure, const FaceWords &words);

} // namespace ostrim
