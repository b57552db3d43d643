#include "serial/failure_advice.h"

namespace ostrim {

// Where a group meant for serial ports may use the device, joining it is what the user can do.
std::string SystemAdvice(const ActionError &failure)
{
    if (failure.reason() != FailureReason::PermissionDenied || failure.group().empty())
        return {};
    return "Join the group " + failure.group() + " (sudo usermod -aG " + failure.group()
        + " $USER), then log out and in again.";
}

} // namespace ostrim
