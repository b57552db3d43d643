#pragma once

#include "runtime/action_error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken property is a crash, so that libFuzzer keeps the input that broke it.
[[noreturn]] inline void PropertyBroken(const std::string &what, std::string_view input)
{
    std::fprintf(stderr, "property broken: %s\ninput (%zu bytes):", what.c_str(), input.size());
    for (const char c : input)
        std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\n");
    std::abort();
}

inline std::string KindName(ostrim::FailureKind kind)
{
    switch (kind) {
    case ostrim::FailureKind::Overflow:
        return "overflow";
    case ostrim::FailureKind::TypeMismatch:
        return "type mismatch";
    case ostrim::FailureKind::InvalidArgument:
        return "invalid argument";
    case ostrim::FailureKind::SerialLine:
        return "serial line";
    }
    return "unknown";
}

inline std::string_view AsText(const std::uint8_t *data, std::size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}
