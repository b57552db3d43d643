#include "runtime/action_error.h"

namespace ostrim {

ActionError::ActionError(FailureKind kind, const std::string &message)
    : ActionError(kind, static_cast<int>(kind), message)
{ }

ActionError::ActionError(FailureKind kind, int number, const std::string &message)
    : std::runtime_error(message)
    , m_kind(kind)
    , m_number(number)
{ }

} // namespace ostrim
