#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

// Bytes as the tests show them, e.g. "07 A0": two upper-case hex digits each, blank-separated.
inline std::string HexText(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char shown[4];
        std::snprintf(shown, sizeof shown, text.empty() ? "%02X" : " %02X", byte);
        text += shown;
    }
    return text;
}
