#pragma once

#include <cstdint>
#include <string_view>

// The three readings done a second time, as plainly as possible and sharing nothing with the
// program's own: a POSIX extended regular expression picks out the number, the C library's strtod
// in the "C" locale gives its value, and nearbyint in the default rounding mode (to nearest, ties
// to even) gives the integer. The fuzz targets hold the program's readings to these.

enum class Outcome { Value, Overflow, TypeMismatch };

template<typename T>
struct Expected
{
    Outcome outcome = Outcome::Value;
    T value {};
};

Expected<double> ReferenceLeadingNumber(std::string_view text);
Expected<std::int16_t> ReferenceToInt16(double value);
Expected<std::int32_t> ReferenceTextToInt32(std::string_view text);

// Whether two doubles are the same reading: equal, and the same sign even when zero.
bool SameReading(double a, double b);
