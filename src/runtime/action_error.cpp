#include "runtime/action_error.h"

#include <utility>

namespace ostrim {

ActionError::ActionError(FailureKind kind, const std::string &message)
    : ActionError(kind, static_cast<int>(kind), message)
{ }

ActionError::ActionError(FailureKind kind, int number, const std::string &message,
    FailureReason reason, std::string group)
    : std::runtime_error(message)
    , m_kind(kind)
    , m_number(number)
    , m_reason(reason)
    , m_group(std::move(group))
{ }

} // namespace ostrim
