#include "serial/line_settings.h"

#include "runtime/action_error.h"
#include "runtime/message_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace ostrim {
namespace {

constexpr std::array standardBaudRates {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

std::vector<std::string_view> SplitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string_view::npos;
         start = comma + 1)
        fields.push_back(text.substr(start, comma - start));
    fields.push_back(text.substr(start));
    return fields;
}

std::optional<int> ReadWholeInt(std::string_view field)
{
    int value = 0;
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    if (result.ec != std::errc {} || result.ptr != field.data() + field.size())
        return std::nullopt;
    return value;
}

std::optional<Parity> ReadParity(std::string_view field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (field.front()) {
    case 'N':
    case 'n':
        return Parity::None;
    case 'E':
    case 'e':
        return Parity::Even;
    case 'O':
    case 'o':
        return Parity::Odd;
    case 'M':
    case 'm':
        return Parity::Mark;
    case 'S':
    case 's':
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<StopBits> ReadStopBits(std::string_view field)
{
    if (field == "1")
        return StopBits::One;
    if (field == "1.5")
        return StopBits::OneAndHalf;
    if (field == "2")
        return StopBits::Two;
    return std::nullopt;
}

[[noreturn]] void Refuse(std::string_view text, const std::string &reason)
{
    throw ActionError(
        FailureKind::SerialLine, "Invalid line settings " + QuoteForMessage(text) + ": " + reason);
}

} // namespace

LineSettings ParseLineSettings(std::string_view text)
{
    const std::vector<std::string_view> fields = SplitFields(text);
    if (fields.size() != 4)
        Refuse(text, "expected baud rate, parity, data bits and stop bits, as in \"2400,N,8,1\"");

    const std::optional<int> baud = ReadWholeInt(fields[0]);
    if (!baud
        || std::find(standardBaudRates.begin(), standardBaudRates.end(), *baud)
            == standardBaudRates.end())
        Refuse(text, "the baud rate is not a standard one");

    const std::optional<Parity> parity = ReadParity(fields[1]);
    if (!parity)
        Refuse(text, "the parity is not one of N, E, O, M or S");

    const std::optional<int> dataBits = ReadWholeInt(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8)
        Refuse(text, "the data bits are not 5 to 8");

    const std::optional<StopBits> stopBits = ReadStopBits(fields[3]);
    if (!stopBits)
        Refuse(text, "the stop bits are not 1, 1.5 or 2");

    return {*baud, *parity, *dataBits, *stopBits};
}

namespace {

std::string_view ParityName(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return "no";
    case Parity::Even:
        return "even";
    case Parity::Odd:
        return "odd";
    case Parity::Mark:
        return "mark";
    case Parity::Space:
        return "space";
    }
    return "no";
}

std::string_view StopBitsName(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::One:
        return "1 stop bit";
    case StopBits::OneAndHalf:
        return "1.5 stop bits";
    case StopBits::Two:
        return "2 stop bits";
    }
    return "1 stop bit";
}

} // namespace

std::string DescribeLineSettings(const LineSettings &settings)
{
    return std::to_string(settings.baudRate) + " baud, " + std::to_string(settings.dataBits)
        + " data bits, " + std::string(ParityName(settings.parity)) + " parity, "
        + std::string(StopBitsName(settings.stopBits));
}

} // namespace ostrim
