#pragma once

#include "runtime/action_error.h"

#include <cstdint>
#include <limits>
#include <string>

namespace ostrim {

// 16-bit signed arithmetic that fails on overflow instead of wrapping, one operation at a time.
namespace checked16 {

inline std::int16_t Narrow(std::int32_t wide, const char *operation, std::int16_t a, std::int16_t b)
{
    if (wide < std::numeric_limits<std::int16_t>::min()
        || wide > std::numeric_limits<std::int16_t>::max()) {
        throw ActionError(FailureKind::Overflow,
            "Overflow: " + std::to_string(a) + operation + std::to_string(b)
                + " does not fit in a 16-bit integer");
    }
    return static_cast<std::int16_t>(wide);
}

inline std::int16_t Multiply(std::int16_t a, std::int16_t b)
{
    return Narrow(std::int32_t {a} * std::int32_t {b}, " * ", a, b);
}

inline std::int16_t Add(std::int16_t a, std::int16_t b)
{
    return Narrow(std::int32_t {a} + std::int32_t {b}, " + ", a, b);
}

} // namespace checked16
} // namespace ostrim
