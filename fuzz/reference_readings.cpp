#include "reference_readings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include <locale.h>
#include <regex.h>

namespace {

// Blanks, then an optional sign, digits with at most one point (at least one digit), and an
// optional exponent that has digits. POSIX matching is leftmost-longest, so a match is the
// longest number the text starts with.
constexpr char numberPattern[] = "([+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?)";
constexpr char blanks[] = "[ \t\r\n]*";

class Pattern
{
public:
    explicit Pattern(const std::string &expression)
    {
        if (::regcomp(&m_regex, expression.c_str(), REG_EXTENDED) != 0)
            throw std::logic_error("bad pattern " + expression);
    }
    ~Pattern() { ::regfree(&m_regex); }
    Pattern(const Pattern &) = delete;
    Pattern &operator=(const Pattern &) = delete;

    // The first group of the match, or nothing. regexec reads up to the first NUL only.
    bool Match(const std::string &text, std::string &number) const
    {
        regmatch_t groups[2];
        if (::regexec(&m_regex, text.c_str(), 2, groups, 0) != 0)
            return false;
        number = text.substr(static_cast<std::size_t>(groups[1].rm_so),
            static_cast<std::size_t>(groups[1].rm_eo - groups[1].rm_so));
        return true;
    }

private:
    regex_t m_regex {};
};

const Pattern &LeadingPattern()
{
    static const Pattern pattern(std::string("^") + blanks + numberPattern);
    return pattern;
}

const Pattern &WholePattern()
{
    static const Pattern pattern(std::string("^") + blanks + numberPattern + blanks + "$");
    return pattern;
}

Expected<double> StrtodInCLocale(const std::string &number)
{
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t {});
    errno = 0;
    const double value = ::strtod_l(number.c_str(), nullptr, cLocale);
    if (errno == ERANGE && std::isinf(value))
        return {Outcome::Overflow};
    return {Outcome::Value, value};
}

template<typename Int>
Expected<Int> NearestInt(double value)
{
    const double nearest = std::nearbyint(value);
    if (std::isnan(nearest) || nearest < static_cast<double>(std::numeric_limits<Int>::min())
        || nearest > static_cast<double>(std::numeric_limits<Int>::max()))
        return {Outcome::Overflow};
    return {Outcome::Value, static_cast<Int>(nearest)};
}

} // namespace

Expected<double> ReferenceLeadingNumber(std::string_view text)
{
    std::string number;
    if (!LeadingPattern().Match(std::string(text), number))
        return {Outcome::Value, 0.0};
    return StrtodInCLocale(number);
}

Expected<std::int16_t> ReferenceToInt16(double value)
{
    return NearestInt<std::int16_t>(value);
}

Expected<std::int32_t> ReferenceTextToInt32(std::string_view text)
{
    std::string number;
    if (text.find('\0') != std::string_view::npos
        || !WholePattern().Match(std::string(text), number))
        return {Outcome::TypeMismatch};
    const Expected<double> value = StrtodInCLocale(number);
    if (value.outcome != Outcome::Value)
        return {value.outcome};
    return NearestInt<std::int32_t>(value.value);
}

bool SameReading(double a, double b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}
