#include "serial/network/network_line.h"

#include "runtime/action_error.h"
#include "serial/serial_port_line.h"

#include <array>

namespace ostrim {
namespace {

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

} // namespace

NetworkBackend::NetworkBackend(NetworkAddress address)
    : m_address(std::move(address))
{ }

std::string NetworkBackend::Device(std::int16_t, const std::optional<std::string> &)
{
    return m_address.Text();
}

void NetworkBackend::Open(
    const std::string &device, const LineSettings &, std::chrono::milliseconds)
{
    m_telnet.reset();
    m_connection = std::make_unique<TcpConnection>(
        device, m_address.host, m_address.port, NetworkClock::now() + NetworkTimeout);
}

void NetworkBackend::Configure(const LineSettings &settings)
{
    if (m_address.protocol == NetworkProtocol::ComPortControl)
        Negotiate(ComPortSettingsOf(settings));
}

void NetworkBackend::Negotiate(const ComPortSettings &wanted)
{
    ComPortTelnet &telnet = m_telnet.emplace(wanted);
    m_connection->Send(telnet.Opening());
    while (telnet.state() == ComPortTelnet::State::Negotiating) {
        const std::optional<std::vector<std::uint8_t>> received = m_connection->Receive();
        if (!received)
            QuietFailure();
        if (received->empty())
            m_connection->Fail("closed the connection before the far port was set up");
        const std::vector<std::uint8_t> answer = telnet.Receive(*received);
        if (telnet.state() == ComPortTelnet::State::Failed)
            m_connection->Fail(telnet.failure() + ", so nothing was sent");
        m_connection->Send(answer);
    }
}

// Which step the server left unanswered says most about what it is.
void NetworkBackend::QuietFailure() const
{
    if (!m_telnet->HeardTelnet())
        m_connection->Fail("did not answer the telnet negotiation " + WithinNetworkTimeout()
            + "; a server that sends no telnet at all takes socket:// instead");
    m_connection->Fail("did not confirm " + m_telnet->Awaited() + " " + WithinNetworkTimeout());
}

WriteOutcome NetworkBackend::Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds)
{
    if (m_telnet)
        m_connection->Send(ComPortTelnet::Data(bytes));
    else
        m_connection->Send(bytes);
    return {bytes.size(), false};
}

void NetworkBackend::Drain(std::size_t, std::chrono::milliseconds)
{
    m_connection->HandOver();
}

void NetworkBackend::Discard()
{
    if (m_connection && m_telnet)
        m_connection->SendWhatFits(m_telnet->PurgeTransmitBuffer());
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
        std::make_unique<NetworkBackend>(*parsed.address), OneDevice {device});
}

} // namespace ostrim
