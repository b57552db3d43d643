#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrim {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings
{
    std::int32_t baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// "baud,parity,data bits,stop bits" as in "2400,N,8,1": a standard baud rate, parity N, E, O, M
// or S, 5 to 8 data bits, 1, 1.5 or 2 stop bits. Any other text fails with a message quoting it.
LineSettings ParseLineSettings(std::string_view text);

// For a message: "2400 baud, 8 data bits, no parity, 1 stop bit".
std::string DescribeLineSettings(const LineSettings &settings);

// The time the given bytes take on the wire, start, parity and stop bits included.
std::chrono::microseconds WireTime(const LineSettings &settings, std::size_t bytes);

} // namespace ostrim
