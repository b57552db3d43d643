#include "serial/failure_advice.h"

namespace ostrim {

// A COM port has no group to join: a port this user cannot open is held by another program.
std::string SystemAdvice(const ActionError &)
{
    return {};
}

} // namespace ostrim
