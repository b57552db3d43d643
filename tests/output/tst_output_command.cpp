#include "hex_text.h"
#include "output/output_command.h"
#include "table_test.h"

#include <string>
#include <string_view>

using namespace ostrim;
using namespace ostrim::test;

TEST_CASE("The mask is the weighted sum of the states, in checked 16-bit arithmetic")
{
    struct Row
    {
        std::string_view name;
        OutputStates states;
        std::string_view outcome;
    };
    constexpr Row rows[] {
        {"none ticked", {0, 0, 0, 0}, "0"},
        {"all ticked", {1, 1, 1, 1}, "240"},
        {"Output 1 weighs 128", {1, 0, 0, 0}, "128"},
        {"Output 4 weighs 16", {0, 0, 0, 1}, "16"},
        {"Outputs 1 and 3", {1, 0, 1, 0}, "160"},
        {"a state of 2 doubles the weight", {2, 0, 0, 0}, "256"},
        // Raw states whose weighted products share bits: an OR of them gives less.
        {"128 + 2 * 64 adds, not ORs", {1, 2, 0, 0}, "256"},
        {"3 * 64 + 2 * 32 adds, not ORs", {0, 3, 2, 0}, "256"},
        {"32 + 2 * 16 adds, not ORs", {0, 0, 1, 2}, "64"},
        {"a negative state subtracts", {0, 1, -1, 0}, "32"},
        {"-256 * 128 still fits", {-256, 0, 0, 0}, "-32768"},
        {"255 * 128 + 64 fits", {255, 1, 0, 0}, "32704"},
        {"the first product overflows", {256, 0, 0, 0}, "overflow"},
        {"the first sum overflows", {255, 2, 0, 0}, "overflow"},
        {"the last product overflows", {0, 0, 0, 2048}, "overflow"},
        {"the last sum overflows", {-256, 0, 0, -1}, "overflow"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        CHECK(Outcome([&] { return OutputMask(row.states); }) == row.outcome);
    }
}

TEST_CASE("The frame is the address byte, then the mask byte; the address is checked first")
{
    struct Row
    {
        std::string_view name;
        std::int32_t address;
        std::int16_t mask;
        std::string_view outcome;
        std::string_view blamed = {};
    };
    constexpr Row rows[] {
        {"address 5, none ticked", 5, 0x00, "05 00"},
        {"address 255, all ticked", 255, 0xF0, "FF F0"},
        {"address 0 is a byte too", 0, 0x80, "00 80"},
        {"address 256", 256, 0x80, "invalid argument", "256"},
        {"address -1", -1, 0x80, "invalid argument", "-1"},
        {"both out of range: the address is blamed", 300, 256, "invalid argument", "300"},
        {"mask 256", 7, 256, "invalid argument", "256"},
        {"a negative mask", 7, -16, "invalid argument", "-16"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        const auto call = [&] { return HexText(OutputCommand(row.address, row.mask)); };
        CHECK(Outcome(call) == row.outcome);
        if (!row.blamed.empty())
            CHECK(Message(call).find(" " + std::string(row.blamed) + " ") != std::string::npos);
    }
}
