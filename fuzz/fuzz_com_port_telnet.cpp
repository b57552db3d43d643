// The telnet com port engine on anything a server may send. Whole or in pieces, the bytes leave
// it in the same state; what it answers stays in proportion to what it was sent, so that a
// hostile server cannot make it say or keep more; and data doubles exactly its 0xFF bytes.
#include "fuzz_check.h"
#include "serial/network/com_port_telnet.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

namespace {

using ostrim::ComPortTelnet;

// The settings block, sent once when the option is agreed, and three bytes per option answered.
constexpr std::size_t SettingsBlock = 64;

std::string Described(const ComPortTelnet &telnet)
{
    return std::to_string(static_cast<int>(telnet.state())) + " " + telnet.failure();
}

void CheckData(std::span<const std::uint8_t> bytes, std::string_view input)
{
    const std::vector<std::uint8_t> data = ComPortTelnet::Data(bytes);
    std::vector<std::uint8_t> undoubled;
    for (std::size_t index = 0; index < data.size(); ++index) {
        undoubled.push_back(data[index]);
        if (data[index] == 0xFF && (++index >= data.size() || data[index] != 0xFF))
            PropertyBroken("a 0xFF in data is not doubled", input);
    }
    if (!std::equal(undoubled.begin(), undoubled.end(), bytes.begin(), bytes.end()))
        PropertyBroken("data undoubled is not what was given", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input = AsText(data, size);
    const std::span<const std::uint8_t> bytes(data, size);

    ComPortTelnet whole;
    const std::size_t answered = whole.Receive(bytes).size();
    if (answered > SettingsBlock + size)
        PropertyBroken(
            "answered " + std::to_string(answered) + " bytes to " + std::to_string(size), input);
    if ((whole.state() == ComPortTelnet::State::Failed) == whole.failure().empty())
        PropertyBroken("a failure without its words, or words without a failure", input);

    // Pieces of one to sixteen bytes, their sizes taken from the input itself.
    ComPortTelnet pieces;
    for (std::size_t start = 0; start < size;) {
        const std::size_t piece = std::min<std::size_t>(1 + data[start] % 16, size - start);
        pieces.Receive(bytes.subspan(start, piece));
        start += piece;
    }
    if (Described(pieces) != Described(whole))
        PropertyBroken(
            "in pieces '" + Described(pieces) + "', whole '" + Described(whole) + "'", input);

    CheckData(bytes, input);
    return 0;
}
