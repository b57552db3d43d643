#include "serial/network/network_line.h"

#include "runtime/action_error.h"

namespace ostrim {
namespace {

ComPortSettings ComPortSettingsOf(const LineSettings &settings)
{
    ComPortSettings wanted;
    wanted.baudRate = static_cast<std::uint32_t>(settings.baudRate);
    wanted.dataSize = static_cast<std::uint8_t>(settings.dataBits);
    switch (settings.parity) {
    case Parity::None:
        wanted.parity = 1;
        break;
    case Parity::Odd:
        wanted.parity = 2;
        break;
    case Parity::Even:
        wanted.parity = 3;
        break;
    case Parity::Mark:
        wanted.parity = 4;
        break;
    case Parity::Space:
        wanted.parity = 5;
        break;
    }
    switch (settings.stopBits) {
    case StopBits::One:
        wanted.stopSize = 1;
        break;
    case StopBits::Two:
        wanted.stopSize = 2;
        break;
    case StopBits::OneAndHalf:
        wanted.stopSize = 3;
        break;
    }
    return wanted;
}

[[noreturn]] void FailNotOpen(const std::string &device)
{
    throw ActionError(FailureKind::SerialLine, device + " is not open");
}

} // namespace

NetworkLine::NetworkLine(NetworkAddress address)
    : m_address(std::move(address))
{ }

NetworkLine::~NetworkLine()
{
    Abandon();
}

void NetworkLine::SetPortNumber(std::int16_t number)
{
    if (number < 1) {
        throw ActionError(FailureKind::SerialLine,
            "Invalid port number " + std::to_string(number) + ": ports are numbered from 1");
    }
}

void NetworkLine::SetSettings(const std::string &settings)
{
    m_settings = ComPortSettingsOf(ParseLineSettings(settings));
}

void NetworkLine::Open()
{
    if (IsOpen())
        throw ActionError(FailureKind::SerialLine, Device() + " is already open");
    m_telnet.reset();
    m_connection = std::make_unique<TcpConnection>(
        Device(), m_address.host, m_address.port, NetworkClock::now() + NetworkTimeout);
    if (m_address.protocol == NetworkProtocol::ComPortControl)
        AbandonOnFailure([this] { Negotiate(); });
}

void NetworkLine::Negotiate()
{
    ComPortTelnet &telnet = m_telnet.emplace(m_settings);
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
void NetworkLine::QuietFailure() const
{
    if (!m_telnet->HeardTelnet())
        m_connection->Fail("did not answer the telnet negotiation " + WithinNetworkTimeout()
            + "; a server that sends no telnet at all takes socket:// instead");
    m_connection->Fail("did not confirm " + m_telnet->Awaited() + " " + WithinNetworkTimeout());
}

void NetworkLine::Write(std::span<const std::uint8_t> bytes)
{
    if (!IsOpen())
        FailNotOpen(Device());
    AbandonOnFailure([&] {
        if (m_telnet)
            m_connection->Send(ComPortTelnet::Data(bytes));
        else
            m_connection->Send(bytes);
    });
}

void NetworkLine::Close()
{
    if (!IsOpen())
        return;
    AbandonOnFailure([this] { m_connection->HandOver(); });
    m_connection.reset();
}

template<typename Step>
void NetworkLine::AbandonOnFailure(Step step)
{
    try {
        step();
    } catch (...) {
        Abandon();
        throw;
    }
}

void NetworkLine::Abandon() noexcept
{
    if (m_connection && m_telnet)
        m_connection->SendWhatFits(m_telnet->PurgeTransmitBuffer());
    m_connection.reset();
}

std::unique_ptr<SerialLine> NetworkLineFor(const std::string &device)
{
    if (!IsNetworkAddress(device))
        return nullptr;
    const ParsedNetworkAddress parsed = ParseNetworkAddress(device);
    if (!parsed.address)
        throw ActionError(FailureKind::InvalidArgument, parsed.error);
    return std::make_unique<NetworkLine>(*parsed.address);
}

} // namespace ostrim
