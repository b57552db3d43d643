#pragma once

// The core's tests are tables: each row names its case, gives the input and states the outcome
// as text, so that a failing row shows both outcomes side by side.

#include "runtime/action_error.h"

#include <charconv>
#include <string>
#include <type_traits>

#include <doctest.h>

namespace ostrim::test {

inline std::string KindName(FailureKind kind)
{
    switch (kind) {
    case FailureKind::Overflow:
        return "overflow";
    case FailureKind::TypeMismatch:
        return "type mismatch";
    case FailureKind::InvalidArgument:
        return "invalid argument";
    case FailureKind::SerialLine:
        return "serial line";
    }
    return "unknown failure";
}

// Integers in decimal; doubles in their shortest exact form, so that "0.1" stands for exactly
// the double nearest to 0.1 and "-0" differs from "0".
template<typename T>
std::string Shown(const T &value)
{
    if constexpr (std::is_floating_point_v<T>) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        return std::string(buffer, result.ptr);
    } else if constexpr (std::is_integral_v<T>) {
        return std::to_string(+value);
    } else {
        return std::string(value);
    }
}

// What a call gives: its value, or the kind of failure it throws (and the failure's number when
// it is not the kind's own).
template<typename Call>
std::string Outcome(Call &&call)
{
    try {
        return Shown(call());
    } catch (const ActionError &error) {
        if (error.number() != static_cast<int>(error.kind()))
            return KindName(error.kind()) + " numbered " + std::to_string(error.number());
        return KindName(error.kind());
    }
}

// The message the call fails with; empty when it does not fail.
template<typename Call>
std::string Message(Call &&call)
{
    try {
        call();
    } catch (const ActionError &error) {
        return error.message();
    }
    return {};
}

} // namespace ostrim::test
