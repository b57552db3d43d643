#include "runtime/readings.h"

#include "runtime/action_error.h"
#include "runtime/message_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace ostrim {
namespace {

std::string_view SkipBlanks(std::string_view text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    return text.substr(static_cast<std::size_t>(first - text.begin()));
}

// The longest number at the start of the text, as the grammar above reads it.
struct NumberPrefix
{
    std::string_view text; // sign included; empty when there is no number
    bool negative = false;
    std::string_view mantissa; // digits and at most one '.'
    long long exponent = 0; // saturated far beyond any double's range
};

NumberPrefix ScanNumber(std::string_view text)
{
    NumberPrefix number;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        number.negative = text[i] == '-';
        ++i;
    }
    const std::size_t mantissaStart = i;
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < text.size(); ++i) {
        if (IsDigit(text[i]))
            seenDigit = true;
        else if (text[i] == '.' && !seenPoint)
            seenPoint = true;
        else
            break;
    }
    if (!seenDigit)
        return {};
    number.mantissa = text.substr(mantissaStart, i - mantissaStart);

    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < text.size() && IsDigit(text[j])) {
            constexpr long long saturation = 1'000'000'000;
            for (; j < text.size() && IsDigit(text[j]); ++j)
                number.exponent = std::min(saturation, number.exponent * 10 + (text[j] - '0'));
            if (negativeExponent)
                number.exponent = -number.exponent;
            i = j;
        }
    }
    number.text = text.substr(0, i);
    return number;
}

// The power of ten of the number's leading digit, so that a number too large for a double can be
// told from one too small (which reads as 0, as a user would expect of 1e-400).
long long DecimalMagnitude(const NumberPrefix &number)
{
    const std::string_view m = number.mantissa;
    const std::size_t point = std::min(m.find('.'), m.size());
    const std::size_t firstNonZero = m.find_first_not_of("0.");
    if (firstNonZero == std::string_view::npos)
        return std::numeric_limits<long long>::min();
    const long long position = firstNonZero < point
        ? static_cast<long long>(point - firstNonZero) - 1
        : -static_cast<long long>(firstNonZero - point);
    return position + number.exponent;
}

std::string FormatNumber(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

double ToDouble(const NumberPrefix &number)
{
    // from_chars takes no leading '+', so the sign is applied afterwards.
    const std::string_view magnitude = number.text.substr(number.text.find_first_not_of("+-"));
    double value = 0.0;
    const auto result = std::from_chars(
        magnitude.data(), magnitude.data() + magnitude.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (DecimalMagnitude(number) >= 0) {
            throw ActionError(FailureKind::Overflow,
                "Overflow: " + QuoteForMessage(number.text) + " is beyond the range of numbers");
        }
        value = 0.0;
    }
    return number.negative ? -value : value;
}

double RoundHalfToEven(double value)
{
    if (std::abs(value - std::trunc(value)) == 0.5)
        return 2.0 * std::round(value / 2.0);
    return std::round(value);
}

template<typename Int>
Int RoundToInt(double value, const char *typeName)
{
    const double rounded = RoundHalfToEven(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min())
            && rounded <= static_cast<double>(std::numeric_limits<Int>::max()))) {
        throw ActionError(FailureKind::Overflow,
            "Overflow: " + FormatNumber(value) + " does not fit in a " + typeName);
    }
    return static_cast<Int>(rounded);
}

} // namespace

std::string AsciiUppercase(std::string_view text)
{
    std::string upper(text);
    std::ranges::transform(upper, upper.begin(),
        [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return upper;
}

std::string_view TrimBlanks(std::string_view text)
{
    text = SkipBlanks(text);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

double LeadingNumber(std::string_view text)
{
    const NumberPrefix number = ScanNumber(SkipBlanks(text));
    return number.text.empty() ? 0.0 : ToDouble(number);
}

std::int16_t ToInt16(double value)
{
    return RoundToInt<std::int16_t>(value, "16-bit integer");
}

std::int32_t TextToInt32(std::string_view text)
{
    const std::string_view trimmed = TrimBlanks(text);
    const NumberPrefix number = ScanNumber(trimmed);
    if (number.text.empty() || number.text.size() != trimmed.size()) {
        throw ActionError(FailureKind::TypeMismatch,
            "Type mismatch: " + QuoteForMessage(text) + " is not a number");
    }
    return RoundToInt<std::int32_t>(ToDouble(number), "32-bit integer");
}

} // namespace ostrim
