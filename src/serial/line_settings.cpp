#include "serial/line_settings.h"

#include "runtime/action_error.h"
#include "runtime/message_text.h"
#include "runtime/readings.h"

#include <algorithm>
#include <array>
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

// Each field's values, as a settings text writes them and as a message names them.
struct ParityName
{
    char letter;
    Parity parity;
    std::string_view word;
};
constexpr std::array<ParityName, 5> parities {
    {{'N', Parity::None, "no"}, {'E', Parity::Even, "even"}, {'O', Parity::Odd, "odd"},
        {'M', Parity::Mark, "mark"}, {'S', Parity::Space, "space"}}};

struct StopBitsName
{
    std::string_view text;
    StopBits stopBits;
    std::string_view words;
};
constexpr std::array<StopBitsName, 3> stopBitsNames {{{"1", StopBits::One, "1 stop bit"},
    {"1.5", StopBits::OneAndHalf, "1.5 stop bits"}, {"2", StopBits::Two, "2 stop bits"}}};

// A letter of either case: "2400,n,8,1" is as good as "2400,N,8,1".
std::optional<Parity> ReadParity(std::string_view field)
{
    const auto found = std::ranges::find_if(parities, [&](const ParityName &name) {
        return field.size() == 1
            && (field.front() == name.letter || field.front() == name.letter - 'A' + 'a');
    });
    return found == parities.end() ? std::nullopt : std::optional(found->parity);
}

std::optional<StopBits> ReadStopBits(std::string_view field)
{
    const auto found = std::ranges::find(stopBitsNames, field, &StopBitsName::text);
    return found == stopBitsNames.end() ? std::nullopt : std::optional(found->stopBits);
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

    const std::optional<int> baud = WholeNumber<int>(fields[0]);
    if (!baud
        || std::find(standardBaudRates.begin(), standardBaudRates.end(), *baud)
            == standardBaudRates.end())
        Refuse(text, "the baud rate is not a standard one");

    const std::optional<Parity> parity = ReadParity(fields[1]);
    if (!parity)
        Refuse(text, "the parity is not one of N, E, O, M or S");

    const std::optional<int> dataBits = WholeNumber<int>(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8)
        Refuse(text, "the data bits are not 5 to 8");

    const std::optional<StopBits> stopBits = ReadStopBits(fields[3]);
    if (!stopBits)
        Refuse(text, "the stop bits are not 1, 1.5 or 2");

    return {*baud, *parity, *dataBits, *stopBits};
}

std::string DescribeLineSettings(const LineSettings &settings)
{
    return std::to_string(settings.baudRate) + " baud, " + std::to_string(settings.dataBits)
        + " data bits, "
        + std::string(std::ranges::find(parities, settings.parity, &ParityName::parity)->word)
        + " parity, "
        + std::string(
            std::ranges::find(stopBitsNames, settings.stopBits, &StopBitsName::stopBits)->words);
}

std::chrono::microseconds WireTime(const LineSettings &settings, std::size_t bytes)
{
    const double stopBits = settings.stopBits == StopBits::One ? 1.0
        : settings.stopBits == StopBits::OneAndHalf            ? 1.5
                                                               : 2.0;
    const double bits
        = 1.0 + settings.dataBits + (settings.parity == Parity::None ? 0.0 : 1.0) + stopBits;
    return std::chrono::microseconds(static_cast<long long>(
        bits * static_cast<double>(bytes) * 1e6 / static_cast<double>(settings.baudRate) + 1.0));
}

} // namespace ostrim
