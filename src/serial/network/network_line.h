#pragma once

#include "serial/line_settings.h"
#include "serial/network/com_port_telnet.h"
#include "serial/network/network_address.h"
#include "serial/network/tcp_connection.h"
#include "serial/serial_line.h"

#include <memory>
#include <optional>

namespace ostrim {

// A serial port behind a device server, reached over TCP: with rfc2217:// the far port is set to
// the line's settings and each one confirmed before the frame goes; with socket:// the frame goes
// as it is, to a port the server has set up. The whole cycle, from the name's look-up to the
// server's taking the frame, ends within NetworkTimeout. There is no claim of a port here: the
// server decides who may share it.
class NetworkLine final : public SerialLine
{
public:
    explicit NetworkLine(NetworkAddress address);
    ~NetworkLine() override;
    NetworkLine(const NetworkLine &) = delete;
    NetworkLine &operator=(const NetworkLine &) = delete;

    // An address names one port; the number only passes the same check as elsewhere.
    void SetPortNumber(std::int16_t number) override;
    void SetSettings(const std::string &settings) override;
    void Open() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    bool IsOpen() const override { return m_connection != nullptr; }
    std::string Device() const override { return m_address.Text(); }

private:
    void Negotiate();
    [[noreturn]] void QuietFailure() const;
    // On any failure once connected: the server is asked to drop what it still holds for the
    // far port, and the connection is closed.
    void Abandon() noexcept;
    template<typename Step>
    void AbandonOnFailure(Step step);

    NetworkAddress m_address;
    ComPortSettings m_settings;
    std::optional<ComPortTelnet> m_telnet;
    std::unique_ptr<TcpConnection> m_connection;
};

// The line for a --device value that is a network address; none for any other value.
std::unique_ptr<SerialLine> NetworkLineFor(const std::string &device);

} // namespace ostrim
