#include "runtime/action_error.h"
#include "serial/line_settings.h"

#include <doctest.h>

using namespace ostrim;

TEST_CASE("Line settings are read as baud, parity in either case, data bits, stop bits, and told")
{
    struct Row
    {
        std::string text;
        LineSettings settings;
        std::string told {};
    };
    const Row rows[] {
        {"2400,N,8,1", {2400, Parity::None, 8, StopBits::One},
            "2400 baud, 8 data bits, no parity, 1 stop bit"},
        {"9600,E,7,2", {9600, Parity::Even, 7, StopBits::Two},
            "9600 baud, 7 data bits, even parity, 2 stop bits"},
        {"115200,o,5,1.5", {115200, Parity::Odd, 5, StopBits::OneAndHalf},
            "115200 baud, 5 data bits, odd parity, 1.5 stop bits"},
        {"300,M,6,1", {300, Parity::Mark, 6, StopBits::One},
            "300 baud, 6 data bits, mark parity, 1 stop bit"},
        {"110,S,8,2", {110, Parity::Space, 8, StopBits::Two},
            "110 baud, 8 data bits, space parity, 2 stop bits"},
        {"2400,n,8,1", {2400, Parity::None, 8, StopBits::One}},
        {"2400,e,8,1", {2400, Parity::Even, 8, StopBits::One}},
        {"2400,O,8,1", {2400, Parity::Odd, 8, StopBits::One}},
        {"2400,m,8,1", {2400, Parity::Mark, 8, StopBits::One}},
        {"2400,s,8,1", {2400, Parity::Space, 8, StopBits::One}},
    };
    for (const Row &row : rows) {
        INFO(row.text);
        CHECK(ParseLineSettings(row.text) == row.settings);
        if (!row.told.empty())
            CHECK(DescribeLineSettings(row.settings) == row.told);
    }
}

TEST_CASE("Any other text is refused, quoted in the message")
{
    for (const std::string text : {"", "2400,N,8", "2400,N,8,1,1", "2401,N,8,1", " 2400,N,8,1",
             "0,N,8,1", "2400,X,8,1", "2400,NN,8,1", "2400,x,8,1", "2400,,8,1", "2400,N ,8,1",
             "2400x,N,8,1", "2400 ,N,8,1", "2400.0,N,8,1", "+2400,N,8,1", ",N,8,1", "2400,N,8x,1",
             "2400,N,8 ,1", "2400,N,8.0,1", "2400,N,,1", "2400,N,8,1x", "2400,N,8,1.5x",
             "2400,N,8,1 ", "2400,N,9,1", "2400,N,4,1", "2400,N,8,3", "2400,N,8,1.0"}) {
        INFO('"' << text << '"');
        try {
            ParseLineSettings(text);
            FAIL("accepted");
        } catch (const ActionError &error) {
            CHECK(error.kind() == FailureKind::SerialLine);
            CHECK(error.message().find('"' + text + '"') != std::string::npos);
        }
    }
}
