#include "output/output_command.h"

#include "runtime/action_error.h"
#include "runtime/checked16.h"

#include <string>

namespace ostrim {

std::int16_t OutputMask(const OutputStates &states)
{
    using checked16::Add;
    using checked16::Multiply;
    const std::int16_t p1 = Multiply(states[0], 128);
    const std::int16_t p2 = Multiply(states[1], 64);
    std::int16_t mask = Add(p1, p2);
    const std::int16_t p3 = Multiply(states[2], 32);
    mask = Add(mask, p3);
    const std::int16_t p4 = Multiply(states[3], 16);
    return Add(mask, p4);
}

std::uint8_t CodeToByte(std::int32_t value)
{
    if (value < 0 || value > 255) {
        throw ActionError(FailureKind::InvalidArgument,
            "Invalid argument: " + std::to_string(value) + " is outside the byte range 0 to 255");
    }
    return static_cast<std::uint8_t>(value);
}

Frame OutputCommand(std::int32_t address, std::int16_t mask)
{
    const std::uint8_t addressByte = CodeToByte(address);
    const std::uint8_t maskByte = CodeToByte(std::int32_t {mask});
    return {addressByte, maskByte};
}

} // namespace ostrim
