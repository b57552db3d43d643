#include "runtime/action_error.h"
#include "runtime/message_text.h"
#include "runtime/readings.h"
#include "table_test.h"

#include <limits>
#include <string>
#include <string_view>
#include <vector>

using namespace ostrim;
using namespace ostrim::test;

namespace {

struct TextRow
{
    std::string_view name;
    std::string text;
    std::string_view outcome;
};

const std::string zeros(1500, '0');

} // namespace

TEST_CASE("LeadingNumber reads the number the text starts with")
{
    const std::vector<TextRow> rows {
        {"empty text reads as 0", "", "0"},
        {"space, tab, CR and LF are skipped before it", "  \t\r\n2", "2"},
        {"vertical tab is no blank", "\v2", "0"},
        {"form feed is no blank", "\f2", "0"},
        {"no-break space is no blank", "\u00a02", "0"},
        {"a letter ends it", "1abc", "1"},
        {"a blank ends it", "1 2", "1"},
        {"a fraction", "2.5", "2.5"},
        {"no digits before the point", ".5", "0.5"},
        {"no digits after the point", "5.", "5"},
        {"a second point ends it", "1.2.3", "1.2"},
        {"a point alone is no number", ".", "0"},
        {"a comma is no decimal point", "1,5", "1"},
        {"minus", "-1", "-1"},
        {"plus", "+3", "3"},
        {"a sign alone is no number", "-", "0"},
        {"two signs are no number", "+-1", "0"},
        {"a blank after the sign", "- 1", "0"},
        {"an exponent", "1e3", "1000"},
        {"capital E and a plus", "1E+2", "100"},
        {"a negative exponent", "25e-1", "2.5"},
        {"e without digits is left out", "1e", "1"},
        {"e and a sign without digits are left out", "1e+", "1"},
        {"no radix prefix", "0x10", "0"},
        {"inf is a word, not infinity", "inf", "0"},
        {"only ASCII digits are digits", "\xd9\xa3", "0"},
        {"the nearest double, ties to even", "9007199254740993", "9007199254740992"},
        {"the largest double", "1.7976931348623157e308", "1.7976931348623157e+308"},
        {"the smallest double", "4.9e-324", "5e-324"},
        {"a subnormal", "1e-310", "1e-310"},
        {"below half the smallest double, 0", "2e-324", "0"},
        {"too small to hold reads as 0", "1e-400", "0"},
        {"zero with a huge exponent", "0e999999", "0"},
        {"1 and 1,500 zeros, e-1500", "1" + zeros + "e-1500", "1"},
        {"1 and 1,500 zeros, e-1900 is too small", "1" + zeros + "e-1900", "0"},
        {"0.(1,500 zeros)25e1501", "0." + zeros + "25e1501", "2.5"},
        {"1e400 is beyond a double", "1e400", "overflow"},
        {"just past the largest double", "1.7976931348623159e308", "overflow"},
        {"an exponent of twenty digits", "1e99999999999999999999", "overflow"},
        {"four hundred digits", std::string(400, '9'), "overflow"},
        {"0.001e312 is 1e309", "0.001e312", "overflow"},
        {"1 and 1,500 zeros, e-1100 is 1e400", "1" + zeros + "e-1100", "overflow"},
        {"0.(1,500 zeros)1e1900 is 1e399", "0." + zeros + "1e1900", "overflow"},
    };
    for (const TextRow &row : rows) {
        INFO(row.name);
        CHECK(Outcome([&] { return LeadingNumber(row.text); }) == row.outcome);
    }
}

TEST_CASE("ToInt16 rounds to the nearest, ties to even, then checks the range")
{
    struct Row
    {
        std::string_view name;
        double value;
        std::string_view outcome;
    };
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double infinity = std::numeric_limits<double>::infinity();
    const std::vector<Row> rows {
        {"2.5 to 2", 2.5, "2"},
        {"3.5 to 4", 3.5, "4"},
        {"-2.5 to -2", -2.5, "-2"},
        {"-3.5 to -4", -3.5, "-4"},
        {"0.5 to 0", 0.5, "0"},
        {"just above a half", 1.5000001, "2"},
        {"just below a half", 2.4999999, "2"},
        {"the largest", 32767.4, "32767"},
        {"-32768.5 rounds into the range", -32768.5, "-32768"},
        {"32767.5 rounds out of it", 32767.5, "overflow"},
        {"below the smallest", -32768.6, "overflow"},
        {"infinity", infinity, "overflow"},
        {"not a number", nan, "overflow"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(Outcome([&] { return ToInt16(row.value); }) == row.outcome);
    }
}

TEST_CASE("TextToInt32 reads a text that is one number and nothing else")
{
    const std::vector<TextRow> rows {
        {"a number", "7", "7"},
        {"blanks around it", " \t7\r\n ", "7"},
        {"minus", "-5", "-5"},
        {"a fraction rounds to the nearest", "0.4", "0"},
        {"a tie rounds down to even", "254.5", "254"},
        {"a tie rounds up to even", "255.5", "256"},
        {"the largest", "2147483647", "2147483647"},
        {"the smallest", "-2147483648", "-2147483648"},
        {"a tie at the smallest rounds into the range", "-2147483648.5", "-2147483648"},
        {"empty", "", "type mismatch"},
        {"blanks alone", "   ", "type mismatch"},
        {"vertical tab after it", "7\v", "type mismatch"},
        {"form feed before it", "\f7", "type mismatch"},
        {"letters after it", "12x", "type mismatch"},
        {"two numbers", "1 2", "type mismatch"},
        {"a sign alone", "+", "type mismatch"},
        {"e without digits", "1e", "type mismatch"},
        {"a NUL inside", std::string {'1', '\0', '2'}, "type mismatch"},
        {"one past the largest", "2147483648", "overflow"},
        {"a tie that rounds past the largest", "2147483647.5", "overflow"},
        {"one below the smallest", "-2147483649", "overflow"},
        {"beyond a double", "1e400", "overflow"},
    };
    for (const TextRow &row : rows) {
        INFO(row.name);
        CHECK(Outcome([&] { return TextToInt32(row.text); }) == row.outcome);
    }
}

TEST_CASE("A message quotes what was typed, in one short line")
{
    struct Row
    {
        std::string_view name;
        std::string text;
        std::string quoted;
    };
    const std::vector<Row> rows {
        {"a short text whole", "12x", "\"12x\""},
        {"control characters as ?", "1\n2\t\x1b[2J", "\"1?2??[2J\""},
        {"a C1 control in UTF-8 (CSI) as ?",
            "1\xc2\x9b"
            "2J",
            "\"1?2J\""},
        {"forty characters whole", std::string(40, 'y'), '"' + std::string(40, 'y') + '"'},
        {"a longer text cut", std::string(10'000, 'y'), '"' + std::string(40, 'y') + "...\""},
        {"no letter cut in half", std::string(39, 'y') + "\xc3\xa9",
            '"' + std::string(39, 'y') + "...\""},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(QuoteForMessage(row.text) == row.quoted);
    }
}

TEST_CASE("A reading's failure says what failed and on what")
{
    struct Row
    {
        std::string_view name;
        std::string message;
        std::string_view says;
    };
    const std::vector<Row> rows {
        {"a number beyond a double", Message([] { LeadingNumber("1e400"); }),
            "Overflow: \"1e400\" is beyond the range of numbers"},
        {"a 16-bit overflow", Message([] { ToInt16(70000); }),
            "Overflow: 70000 does not fit in a 16-bit integer"},
        {"a 32-bit overflow", Message([] { TextToInt32("2147483648"); }),
            "Overflow: 2147483648 does not fit in a 32-bit integer"},
        {"a type mismatch", Message([] { TextToInt32("12x\n"); }),
            "Type mismatch: \"12x?\" is not a number"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(row.message == row.says);
    }
}
