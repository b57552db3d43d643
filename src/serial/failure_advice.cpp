#include "serial/failure_advice.h"

namespace ostrim {
namespace {

std::string Advice(const ActionError &failure, const FaceWords &words)
{
    switch (failure.reason()) {
    case FailureReason::InUse:
        return std::string(words.closeHolder);
    case FailureReason::PermissionDenied:
        return SystemAdvice(failure);
    case FailureReason::Console:
        return "Ostrim does not write to the console. " + std::string(words.otherPort);
    case FailureReason::OnlyConsoles:
        return std::string(noUsablePortText) + " " + std::string(words.deviceServer);
    case FailureReason::Timeout:
        return "Check the cable and the device's flow control.";
    case FailureReason::ServerTimeout:
        return "Check that the device server is on and can be reached from here.";
    case FailureReason::Missing:
    case FailureReason::Other:
        break;
    }
    return {};
}

} // namespace

std::string WithAdvice(
    const std::string &message, const std::optional<ActionError> &failure, const FaceWords &words)
{
    const std::string advice = failure ? Advice(*failure, words) : std::string();
    if (advice.empty())
        return message;
    // A message that names a network address ends without a full stop of its own.
    return message + (message.ends_with('.') ? " " : ". ") + advice;
}

} // namespace ostrim
