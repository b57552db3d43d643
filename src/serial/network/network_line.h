#pragma once

#include "serial/line_backend.h"
#include "serial/network/com_port_telnet.h"
#include "serial/network/network_address.h"
#include "serial/network/tcp_connection.h"
#include "serial/serial_line.h"

#include <memory>
#include <optional>

namespace ostrim {

// A serial port behind a device server, reached over TCP: with rfc2217:// the far port is set to
// the line's settings and each one confirmed before the frame goes; with socket:// the frame goes
// as it is, to a port the server has set up. There is no claim of a port here: the server decides
// who may share it.
//
// The limits the line passes are for a local port and are not used: the whole press, from the
// name's look-up to the server's taking the frame, ends within NetworkTimeout of the open, since
// a look-up and a negotiation over a slow link take longer than any local open.
class NetworkBackend final : public LineBackend
{
public:
    explicit NetworkBackend(NetworkAddress address);

    // An address names one port, whatever its number.
    std::string Device(std::int16_t number, const std::optional<std::string> &named) override;
    void Open(const std::string &device, const LineSettings &settings,
        std::chrono::milliseconds limit) override;
    void Configure(const LineSettings &settings) override;
    WriteOutcome Write(
        std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) override;
    // What the server has not yet taken is known only to the hand-over.
    std::optional<std::size_t> Queued() override { return std::nullopt; }
    void Drain(std::size_t written, std::chrono::milliseconds limit) override;
    // The server is asked to drop what it still holds for the far port.
    void Discard() override;
    void GiveBackAndClose() override;

private:
    void Negotiate(const ComPortSettings &wanted);
    [[noreturn]] void QuietFailure() const;

    NetworkAddress m_address;
    std::optional<ComPortTelnet> m_telnet;
    std::unique_ptr<TcpConnection> m_connection;
};

// The line for a --device value that is a network address; none for any other value.
std::unique_ptr<SerialLine> NetworkLineFor(const std::string &device);

} // namespace ostrim
