#pragma once

#include <stdexcept>
#include <string>

namespace ostrim {

enum class FailureKind {
    Overflow = 1,
    TypeMismatch = 2,
    InvalidArgument = 3,
    SerialLine = 4,
};

// The one kind of failure an action can meet. It carries the text the user is shown; the number
// is the kind's own code unless the failure came with a system error number (errno) of its own.
class ActionError : public std::runtime_error
{
public:
    ActionError(FailureKind kind, const std::string &message);
    ActionError(FailureKind kind, int number, const std::string &message);

    FailureKind kind() const noexcept { return m_kind; }
    int number() const noexcept { return m_number; }
    std::string message() const { return what(); }

private:
    FailureKind m_kind;
    int m_number;
};

} // namespace ostrim
