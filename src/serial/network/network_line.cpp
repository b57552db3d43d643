#include "serial/network/network_line.h"

#include "runtime/action_error.h"
#include "serial/serial_port_line.h"

#include <array>
#include <cctype>

namespace ostrim {
namespace {

using namespace std::chrono_literals;

// The com port option's codes, in Parity's and StopBits' order.
constexpr std::array<std::uint8_t, 5> parityCodes {1, 3, 2, 4, 5};
constexpr std::array<std::uint8_t, 3> stopSizeCodes {1, 3, 2};

ComPortSettings ComPortSettingsOf(const LineSettings &settings)
{
    ComPortSettings wanted;
    wanted.baudRate = static_cast<std::uint32_t>(settings.baudRate);
    wanted.dataSize = static_cast<std::uint8_t>(settings.dataBits);
    wanted.parity = parityCodes.at(static_cast<std::size_t>(settings.parity));
    wanted.stopSize = stopSizeCodes.at(static_cast<std::size_t>(settings.stopBits));
    return wanted;
}

// A window of its own within the line's deadline.
Deadline Window(const Deadline &deadline, std::chrono::milliseconds time)
{
    return {deadline.Clock(), std::min(deadline.Clock().now() + time, deadline.At())};
}

// A deadline already past: a listen with it takes only what has come.
Deadline Now(const Deadline &deadline)
{
    return {deadline.Clock(), deadline.Clock().now()};
}

// The server's words as one line of printable text, short enough for a message.
std::string Printable(const std::string &text)
{
    constexpr std::size_t longest = 80;
    std::string line;
    for (const char each : text) {
        const auto c = static_cast<unsigned char>(each);
        if (std::isspace(c)) {
            if (!line.empty() && line.back() != ' ')
                line.push_back(' ');
        } else if (std::isprint(c)) {
            line.push_back(each);
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line.size() > longest ? line.substr(0, longest) + "..." : line;
}

} // namespace

NetworkBackend::NetworkBackend(NetworkAddress address, std::shared_ptr<SocketCalls> calls)
    : m_address(std::move(address))
    , m_calls(std::move(calls))
{ }

std::string NetworkBackend::Device(std::int16_t, const std::optional<std::string> &)
{
    return m_address.Text();
}

void NetworkBackend::Open(
    const std::string &device, const LineSettings &settings, const Deadline &deadline)
{
    m_settings = settings;
    m_telnet = ComPortTelnet(ComPortSettingsOf(settings));
    m_answer.clear();
    m_speaking = false;
    m_connection = std::make_unique<TcpConnection>(
        m_calls, device, m_address.host, m_address.port, deadline);
    try {
        if (m_address.protocol == NetworkProtocol::RawSocket)
            RefuseTelnetServer(deadline);
        else if (!m_address.clientFirst)
            AwaitComPortGreeting(deadline);
    } catch (const LineFailure &) {
        m_connection.reset();
        throw;
    }
}

// An RFC 2217 server opens the negotiation itself; one that does not is left without a byte,
// since a raw port would put the telnet on its board's line.
void NetworkBackend::AwaitComPortGreeting(const Deadline &deadline)
{
    const Deadline window = Window(deadline, ComPortGreetingWait);
    while (!m_telnet.HeardTelnet()) {
        if (deadline.Passed()) {
            m_connection->Fail("did not open the telnet negotiation " + WithinNetworkTimeout()
                    + ", so nothing was sent",
                0, FailureReason::ServerTimeout);
        }
        if (window.Passed()) {
            const std::string words = Printable(m_telnet.ServerText());
            m_connection->Fail((words.empty() ? "said nothing " + WithinText(ComPortGreetingWait)
                                              : "answered \"" + words + "\" and no telnet "
                                           + WithinText(ComPortGreetingWait))
                + " of the connect, where an RFC 2217 server opens its negotiation, so nothing "
                  "was sent: a raw TCP port takes socket://, and a server that waits for its "
                  "client takes "
                + m_address.Text() + "?client-first");
        }
        Hear(window, "before the far port was set up");
    }
}

// A telnet server would read an address of 255 as a command and drop the frame.
void NetworkBackend::RefuseTelnetServer(const Deadline &deadline)
{
    const Deadline window = Window(deadline, TelnetProbeWait);
    do {
        Hear(window, "before the frame was sent");
        if (m_telnet.HeardTelnet()) {
            NetworkAddress telnet = m_address;
            telnet.protocol = NetworkProtocol::ComPortControl;
            m_connection->Fail(
                "speaks telnet, so nothing was sent: a server of RFC 2217 takes " + telnet.Text());
        }
    } while (!window.Passed());
}

void NetworkBackend::Configure(const LineSettings &, const Deadline &deadline)
{
    if (m_address.protocol == NetworkProtocol::ComPortControl)
        Negotiate(deadline);
}

void NetworkBackend::Negotiate(const Deadline &deadline)
{
    std::vector<std::uint8_t> opening = m_telnet.Opening();
    opening.insert(opening.end(), m_answer.begin(), m_answer.end());
    m_answer.clear();
    m_speaking = true;
    m_connection->Send(opening, deadline);
    while (m_telnet.state() == ComPortTelnet::State::Negotiating) {
        if (deadline.Passed())
            QuietFailure();
        Hear(deadline, "before the far port was set up");
    }
    if (m_telnet.state() == ComPortTelnet::State::Failed)
        m_connection->Fail(m_telnet.failure() + ", so nothing was sent");
}

// Which step the server left unanswered says most about what it is.
void NetworkBackend::QuietFailure() const
{
    if (!m_telnet.HeardTelnet()) {
        m_connection->Fail("did not answer the telnet negotiation " + WithinNetworkTimeout()
                + "; a server that sends no telnet at all takes socket:// instead",
            0, FailureReason::ServerTimeout);
    }
    m_connection->Fail("did not confirm " + m_telnet.Awaited() + " " + WithinNetworkTimeout(), 0,
        FailureReason::ServerTimeout);
}

void NetworkBackend::Hear(const Deadline &deadline, const std::string &closedWhen)
{
    const Heard heard = m_connection->Listen(deadline);
    const std::vector<std::uint8_t> answer = m_telnet.Receive(heard.bytes);
    m_answer.insert(m_answer.end(), answer.begin(), answer.end());
    if (heard.closed)
        FailClosed(closedWhen);
    Answer(deadline);
}

void NetworkBackend::Answer(const Deadline &deadline)
{
    if (!m_speaking || m_answer.empty())
        return;
    const std::vector<std::uint8_t> answer = std::move(m_answer);
    m_answer.clear();
    m_connection->Send(answer, deadline);
}

// A reset says no more than a close here: ser2net resets as often as it closes when it refuses.
void NetworkBackend::FailClosed(const std::string &closedWhen) const
{
    const std::string words = Printable(m_telnet.ServerText());
    m_connection->Fail((words.empty() ? "" : "said \"" + words + "\" and ")
        + "closed the connection " + closedWhen);
}

// Before the frame, whatever the server said since is judged: a server that has closed gets no
// frame.
WriteOutcome NetworkBackend::Write(std::span<const std::uint8_t> bytes, const Deadline &deadline)
{
    Hear(Now(deadline), "before the frame was sent");
    if (m_address.protocol == NetworkProtocol::ComPortControl)
        m_connection->Send(ComPortTelnet::Data(bytes), deadline);
    else
        m_connection->Send(bytes, deadline);
    return {bytes.size(), false};
}

// The connection is held open for the frame's time on the far port's wire and a margin, so that
// a server that empties its port as the connection ends cannot throw the frame away; then the
// sending side is closed, and the server's close in turn shows it has read everything.
void NetworkBackend::Drain(std::size_t written, const Deadline &deadline)
{
    const Deadline held = Window(deadline,
        std::chrono::ceil<std::chrono::milliseconds>(WireTime(m_settings, written))
            + HandOverMargin);
    do {
        Hear(held,
            "before the frame had time to leave the far port, so it may not have reached the "
            "board");
    } while (!held.Passed());
    m_speaking = false;
    m_connection->ShutdownSending();
    AwaitServerClose(deadline);
}

void NetworkBackend::AwaitServerClose(const Deadline &deadline)
{
    const Deadline window = Window(deadline, ServerCloseWait);
    do {
        const Heard heard = m_connection->Listen(window);
        if (heard.reset) {
            m_connection->Fail("reset the connection as the frame was handed over, so it may not "
                               "have reached the board");
        }
        if (heard.closed)
            return;
    } while (!window.Passed());
    // A server that keeps its side open: its machine's acknowledgement is the last word.
    for (;;) {
        const std::optional<int> unacknowledged = m_connection->Unacknowledged();
        if (!unacknowledged || *unacknowledged == 0)
            return;
        if (deadline.Passed()) {
            m_connection->Fail(
                "stopped reading: it did not take the frame " + WithinNetworkTimeout(), 0,
                FailureReason::ServerTimeout);
        }
        deadline.Pause(10ms);
    }
}

void NetworkBackend::Discard()
{
    if (m_connection && m_address.protocol == NetworkProtocol::ComPortControl)
        m_connection->SendWhatFits(m_telnet.PurgeTransmitBuffer());
}

void NetworkBackend::GiveBackAndClose()
{
    m_connection.reset();
}

std::unique_ptr<SerialLine> NetworkLineFor(const std::string &device)
{
    if (!IsNetworkAddress(device))
        return nullptr;
    const ParsedNetworkAddress parsed = ParseNetworkAddress(device);
    if (!parsed.address)
        throw ActionError(FailureKind::InvalidArgument, parsed.error);
    return std::make_unique<SerialPortLine>(
        std::make_unique<NetworkBackend>(*parsed.address, SystemSocketCalls()), OneDevice {device});
}

} // namespace ostrim
