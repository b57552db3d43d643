#include "runtime/checked16.h"
#include "table_test.h"

#include <string>
#include <string_view>

using namespace ostrim;
using namespace ostrim::test;

// Each bound from both sides: the last value that fits, and the first one past it.
TEST_CASE("16-bit sums and products fail past either bound, naming the operation")
{
    struct Row
    {
        std::int16_t a;
        char operation;
        std::int16_t b;
        std::string_view outcome;
    };
    constexpr Row rows[] {
        {32766, '+', 1, "32767"},
        {32767, '+', 1, "overflow"},
        {16384, '+', 16384, "overflow"},
        {-32767, '+', -1, "-32768"},
        {-32768, '+', -1, "overflow"},
        {-32768, '+', 32767, "-1"},
        {32767, '*', 1, "32767"},
        {128, '*', 256, "overflow"},
        {-128, '*', 256, "-32768"},
        {-32768, '*', -1, "overflow"},
        {-32767, '*', -1, "32767"},
        {-129, '*', 254, "-32766"},
        {-257, '*', 128, "overflow"},
    };
    for (const Row &row : rows) {
        const std::string operation
            = std::to_string(row.a) + ' ' + row.operation + ' ' + std::to_string(row.b);
        INFO(operation);
        const auto call = [&] {
            return row.operation == '+' ? checked16::Add(row.a, row.b)
                                        : checked16::Multiply(row.a, row.b);
        };
        CHECK(Outcome(call) == row.outcome);
        if (row.outcome == "overflow")
            CHECK(Message(call).find(operation) != std::string::npos);
    }
}
