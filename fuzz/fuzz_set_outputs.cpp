// The whole action on any entries and any line faults. Properties: it ends in exactly one of its
// four ways; the port is never left open; a frame that reaches the line is the one the reference
// readings give for the same entries, and goes to the port they give.
//
// Input: byte 0 chooses the line (high nibble: how many ports exist; low nibble: the faults
// below); byte 1 the output states (bit i ticks Output i + 1; with bit 7 set, the next eight bytes
// are four raw 16-bit states instead, which the window never produces but the action accepts);
// then the port text, a NUL, and the address text.
#include "fuzz_check.h"
#include "output/output_command.h"
#include "output/set_outputs.h"
#include "reference_readings.h"
#include "serial/serial_line.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using ostrim::ActionError;
using ostrim::FailureKind;

namespace {

enum LineFault : std::uint8_t {
    OpenRefused = 1, // as a port held by another program
    WriteFails = 2, // as a device unplugged mid-write; the port stays open
    CloseFailsOpen = 4, // the first close fails and leaves the port open
    CloseFailsReleased = 8, // the close fails but releases the port, as a drain timeout does
};

struct Entries
{
    std::uint8_t faults = 0;
    int portCount = 0;
    ostrim::OutputStates states {};
    std::string portText;
    std::string addressText;
};

std::optional<Entries> Decode(std::string_view input)
{
    if (input.size() < 2)
        return std::nullopt;
    Entries entries;
    entries.faults = static_cast<std::uint8_t>(input[0]) & 0x0F;
    entries.portCount = static_cast<std::uint8_t>(input[0]) >> 4;
    const auto ticks = static_cast<std::uint8_t>(input[1]);
    input.remove_prefix(2);
    if (ticks & 0x80) {
        if (input.size() < sizeof entries.states)
            return std::nullopt;
        std::memcpy(entries.states.data(), input.data(), sizeof entries.states);
        input.remove_prefix(sizeof entries.states);
    } else {
        for (std::size_t i = 0; i < entries.states.size(); ++i)
            entries.states[i] = (ticks >> i) & 1;
    }
    const std::size_t separator = input.find('\0');
    entries.portText = std::string(input.substr(0, separator));
    if (separator != std::string_view::npos)
        entries.addressText = std::string(input.substr(separator + 1));
    return entries;
}

// Keeps to the line's contract: refuses port numbers below 1, fails to open a port that is not
// in the list, and throws every refusal as a serial-line failure.
class RecordingLine final : public ostrim::SerialLine
{
public:
    explicit RecordingLine(const Entries &entries)
        : m_faults(entries.faults)
        , m_portCount(entries.portCount)
    { }

    void SetPortNumber(std::int16_t number) override
    {
        touched = true;
        if (number < 1)
            Refuse("port number below 1");
        if (open)
            Refuse("port number changed while open");
        portNumber = number;
    }
    void SetSettings(const std::string &text) override
    {
        if (open)
            Refuse("settings changed while open");
        settings = text;
    }
    void Open() override
    {
        if (open)
            Refuse("opened twice");
        ++opens;
        if (portNumber > m_portCount)
            Refuse("no such port");
        if (m_faults & OpenRefused)
            Refuse("in use");
        open = true;
    }
    void Write(std::span<const std::uint8_t> bytes) override
    {
        if (!open)
            Refuse("written while closed");
        if (m_faults & WriteFails)
            Refuse("disconnected");
        written.insert(written.end(), bytes.begin(), bytes.end());
    }
    void Close() override
    {
        if (!open)
            return;
        ++closes;
        if ((m_faults & CloseFailsOpen) && closes == 1)
            Refuse("close failed");
        open = false;
        if (m_faults & CloseFailsReleased)
            Refuse("drain timed out");
    }
    bool IsOpen() const override { return open; }
    std::string Device() const override { return "/dev/fuzzed"; }

    bool touched = false;
    bool open = false;
    int opens = 0;
    int closes = 0;
    std::int16_t portNumber = 1;
    std::string settings;
    std::vector<std::uint8_t> written;

private:
    [[noreturn]] static void Refuse(const std::string &what)
    {
        throw ActionError(FailureKind::SerialLine, "line: " + what);
    }

    std::uint8_t m_faults;
    int m_portCount;
};

enum class Ending { Sent, InvalidPort, InvalidAddress, Failure };

struct Prediction
{
    Ending ending = Ending::Failure;
    bool reachesOpen = false; // the entries are good; only the line can still fail
    std::int16_t port = 0;
    std::array<std::uint8_t, 2> frame {}; // valid when reachesOpen
};

// The weighted sum with a 16-bit range check after every product and sum.
std::optional<int> ReferenceMask(const ostrim::OutputStates &states)
{
    const auto fits = [](long value) { return value >= -32768 && value <= 32767; };
    long mask = 0;
    const long weights[] = {128, 64, 32, 16};
    for (std::size_t i = 0; i < states.size(); ++i) {
        const long product = states[i] * weights[i];
        if (!fits(product))
            return std::nullopt;
        mask = i == 0 ? product : mask + product;
        if (!fits(mask))
            return std::nullopt;
    }
    return static_cast<int>(mask);
}

Prediction Predict(const Entries &entries)
{
    Prediction prediction;
    const Expected<double> port = ReferenceLeadingNumber(entries.portText);
    if (port.outcome != Outcome::Value)
        return prediction;
    if (!(port.value > 0))
        return {Ending::InvalidPort};
    const Expected<std::int16_t> portNumber = ReferenceToInt16(port.value);
    if (portNumber.outcome != Outcome::Value || portNumber.value < 1)
        return prediction;
    const std::optional<int> mask = ReferenceMask(entries.states);
    if (!mask)
        return prediction;
    const Expected<double> addressTest = ReferenceLeadingNumber(entries.addressText);
    if (addressTest.outcome != Outcome::Value)
        return prediction;
    if (!(addressTest.value > 0))
        return {Ending::InvalidAddress};
    const Expected<std::int32_t> address = ReferenceTextToInt32(entries.addressText);
    if (address.outcome != Outcome::Value || address.value < 0 || address.value > 255 || *mask < 0
        || *mask > 255)
        return prediction;

    prediction.reachesOpen = true;
    prediction.port = portNumber.value;
    prediction.frame = {static_cast<std::uint8_t>(address.value), static_cast<std::uint8_t>(*mask)};
    const bool lineFails = portNumber.value > entries.portCount || entries.faults != 0;
    prediction.ending = lineFails ? Ending::Failure : Ending::Sent;
    return prediction;
}

// The ending as a user would tell it from the message, which must agree with the one reported.
Ending ActualEnding(const ostrim::ActionOutcome &outcome, std::string_view input)
{
    const std::string &message = outcome.message;
    const auto agrees = [&](ostrim::Ending reported, bool failure) {
        if (outcome.ending != reported || outcome.failure.has_value() != failure)
            PropertyBroken("the ending reported disagrees with the message: " + message, input);
    };
    if (message.empty()) {
        agrees(ostrim::Ending::Sent, false);
        return Ending::Sent;
    }
    if (message == ostrim::InvalidPortMessage) {
        agrees(ostrim::Ending::InvalidPort, false);
        return Ending::InvalidPort;
    }
    if (message == ostrim::InvalidAddressMessage) {
        agrees(ostrim::Ending::InvalidAddress, false);
        return Ending::InvalidAddress;
    }
    agrees(ostrim::Ending::Failed, true);
    return Ending::Failure;
}

const char *Name(Ending ending)
{
    switch (ending) {
    case Ending::Sent:
        return "sent";
    case Ending::InvalidPort:
        return "invalid port";
    case Ending::InvalidAddress:
        return "invalid address";
    case Ending::Failure:
        return "failure";
    }
    return "?";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input = AsText(data, size);
    const std::optional<Entries> entries = Decode(input);
    if (!entries)
        return -1; // too short to say anything: not worth keeping in the corpus

    const ostrim::GivenEntries given(entries->portText, entries->addressText, entries->states);
    RecordingLine line(*entries);
    ostrim::ActionOutcome outcome;
    try {
        outcome = ostrim::SetOutputs(given, line);
    } catch (const std::exception &escaped) {
        PropertyBroken(std::string("a failure escaped the action: ") + escaped.what(), input);
    }

    const Prediction predicted = Predict(*entries);
    const Ending actual = ActualEnding(outcome, input);
    if (actual != predicted.ending) {
        PropertyBroken(std::string("ended as ") + Name(actual) + ", expected "
                + Name(predicted.ending)
                + (actual == Ending::Failure ? ": " + outcome.message : ""),
            input);
    }
    // A line whose close fails and keeps the port gets one more close from the error path, never
    // a loop of them; if that one is the failing close, the user must at least be told.
    const bool toldNotClosed = actual == Ending::Failure
        && outcome.message.find("could not be closed") != std::string::npos;
    if (line.open && !(line.closes == 1 && (entries->faults & CloseFailsOpen) && toldNotClosed))
        PropertyBroken("the port was left open", input);
    if (line.opens > 0 && !predicted.reachesOpen)
        PropertyBroken("the port was opened although the entries are not valid", input);
    if (actual == Ending::InvalidPort && line.touched)
        PropertyBroken("the port was set although the port entry is not valid", input);
    if (!line.written.empty()) {
        const std::vector<std::uint8_t> frame(predicted.frame.begin(), predicted.frame.end());
        if (!predicted.reachesOpen || line.written != frame || line.portNumber != predicted.port
            || line.settings != ostrim::LineSettingsText) {
            PropertyBroken("sent " + std::to_string(line.written.size()) + " bytes to port "
                    + std::to_string(line.portNumber) + " with settings " + line.settings
                    + ", expected address " + std::to_string(predicted.frame[0]) + " and mask "
                    + std::to_string(predicted.frame[1]) + " to port "
                    + std::to_string(predicted.port),
                input);
        }
        if (actual == Ending::Sent
            && (outcome.frame != predicted.frame || outcome.portNumber != predicted.port
                || outcome.device != line.Device()))
            PropertyBroken("the outcome does not tell what was sent where", input);
    } else if (actual == Ending::Sent) {
        PropertyBroken("ended without a message but sent nothing", input);
    }
    return 0;
}
