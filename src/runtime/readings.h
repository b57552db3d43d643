#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrim {

// The three ways the program reads numbers from what the user typed. Blanks are space, tab, CR
// and LF. A number is an optional sign, digits with at most one '.', and an optional exponent
// (e or E, an optional sign, digits). The decimal point is '.' whatever the locale.

// '0' to '9' only: std::isdigit depends on the locale.
constexpr bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A typed entry's blanks: an entry is one line, so CR and LF count as blanks too.
constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The whole text as one integer in the given base, with nothing before or after it; none where it
// is not one or does not fit.
template<typename Int>
std::optional<Int> WholeNumber(std::string_view text, int base = 10)
{
    Int value {};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The text with its ASCII letters in upper case, whatever the locale.
std::string AsciiUppercase(std::string_view text);

// The text without the blanks before and after it.
std::string_view TrimBlanks(std::string_view text);

// The number at the start of the text, after blanks; reading stops where the number cannot go
// on. A text that does not start with a number reads as 0. Fails with an overflow when the
// number lies beyond the range of a double.
double LeadingNumber(std::string_view text);

// The nearest 16-bit integer, ties to even. Fails with an overflow outside the range.
std::int16_t ToInt16(double value);

// The whole text must be one number, with blanks allowed around it; nearest integer, ties to
// even. Fails with a type mismatch when it is not a number, an overflow outside the range.
std::int32_t TextToInt32(std::string_view text);

} // namespace ostrim
