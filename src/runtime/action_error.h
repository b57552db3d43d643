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

// What went wrong, for a face to choose what it tells the user to do. The message says what is
// wrong; it never says what to do, since that depends on where the user stands (a window's button,
// a shell's command line).
enum class FailureReason {
    Other,
    InUse, // another program holds the port
    PermissionDenied, // this user may not open the device
    Console, // the port is the system's console, which is never written to
    OnlyConsoles, // the same, and every other port is a console too: there is none to choose
    Missing, // no such port, or its device is gone
    Timeout, // the frame did not leave in time
    ServerTimeout, // a device server did not answer in time
};

// The one kind of failure an action can meet. It carries the text the user is shown; the number
// is the kind's own code unless the failure came with a system error number (errno) of its own.
class ActionError : public std::runtime_error
{
public:
    ActionError(FailureKind kind, const std::string &message);
    ActionError(FailureKind kind, int number, const std::string &message,
        FailureReason reason = FailureReason::Other, std::string group = {});

    FailureKind kind() const noexcept { return m_kind; }
    int number() const noexcept { return m_number; }
    FailureReason reason() const noexcept { return m_reason; }
    // For a permission failure: the group meant for serial ports that may use the device, if one
    // may; empty otherwise.
    const std::string &group() const noexcept { return m_group; }
    std::string message() const { return what(); }

private:
    FailureKind m_kind;
    int m_number;
    FailureReason m_reason;
    std::string m_group;
};

} // namespace ostrim
