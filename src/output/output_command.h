#pragma once

#include <array>
#include <cstdint>

namespace ostrim {

// Index 0 is "Output 1" up to index 3 for "Output 4"; 0 is off, 1 is on.
using OutputStates = std::array<std::int16_t, 4>;

// Address byte, then output-mask byte: all that ever goes to the board.
using Frame = std::array<std::uint8_t, 2>;

// Output 1 weighs 128 (bit 7) down to Output 4 at 16 (bit 4). The weighted sum, not a bitwise OR,
// in 16-bit arithmetic that fails on overflow after every product and every sum.
std::int16_t OutputMask(const OutputStates &states);

// Fails with an invalid argument unless the value lies in 0 to 255.
std::uint8_t CodeToByte(std::int32_t value);

// The address is converted first, so an address out of range is the failure reported even when
// the mask is out of range too.
Frame OutputCommand(std::int32_t address, std::int16_t mask);

} // namespace ostrim
