#pragma once

#include "serial/line_backend.h"
#include "serial/network/com_port_telnet.h"
#include "serial/network/network_address.h"
#include "serial/network/tcp_connection.h"
#include "serial/serial_line.h"

#include <memory>
#include <optional>

namespace ostrim {

// The whole press, from the name's look-up to the frame's hand-over, within one time.
inline constexpr LineBudget NetworkLineBudget {NetworkTimeout, NetworkTimeout, NetworkTimeout};

// How long an RFC 2217 server may stay silent after the connect before it is taken for no such
// server: ser2net opens its negotiation within a millisecond, a raw port never does, and nothing
// may be sent to a raw port that would reach its board as telnet.
inline constexpr std::chrono::milliseconds ComPortGreetingWait {1000};
// How long socket:// listens after the connect for a telnet server's opening before it sends:
// ser2net's comes within half a millisecond, and every socket:// press waits this long.
inline constexpr std::chrono::milliseconds TelnetProbeWait {30};
// How long the connection stays open after the frame's time on the far port's wire before the
// hand-over: a server that empties its port as a connection ends (ser2net does, where its port
// cannot count what it still holds) must have written the frame out by then. From the frame's
// send to its arrival at ser2net's far port took 0.1 ms at the median and under 5 ms at the 99th
// percentile on a machine whose two processors were busy; at 20 ms 1 of 500 frames was lost there.
inline constexpr std::chrono::milliseconds HandOverMargin {50};
// After the hand-over, how long the server's close is waited for before TCP's acknowledgement of
// every byte is trusted instead, for a server that keeps its side open.
inline constexpr std::chrono::milliseconds ServerCloseWait {500};

// A serial port behind a device server, reached over TCP: with rfc2217:// the far port is set to
// the line's settings and each one confirmed before the frame goes; with socket:// the frame goes
// as it is, to a port the server has set up. There is no claim of a port here: the server decides
// who may share it, and says so by closing the connection, which is heard up to the hand-over.
class NetworkBackend final : public LineBackend
{
public:
    NetworkBackend(NetworkAddress address, std::shared_ptr<SocketCalls> calls);

    LineBudget Budget() const override { return NetworkLineBudget; }
    // An address names one port, whatever its number.
    std::string Device(std::int16_t number, const std::optional<std::string> &named) override;
    // Connects, and tells a server that does not speak the address's protocol before a byte is
    // sent to it.
    void Open(
        const std::string &device, const LineSettings &settings, const Deadline &deadline) override;
    void Configure(const LineSettings &settings, const Deadline &deadline) override;
    WriteOutcome Write(std::span<const std::uint8_t> bytes, const Deadline &deadline) override;
    // What the server has not yet written out is known only to the hand-over.
    std::optional<std::size_t> Queued() override { return std::nullopt; }
    // The hand-over: the frame given its time on the far port's wire, then the sending side
    // closed and the server's close awaited.
    void Drain(std::size_t written, const Deadline &deadline) override;
    // The server is asked to drop what it still holds for the far port.
    void Discard() override;
    void GiveBackAndClose() override;

private:
    void AwaitComPortGreeting(const Deadline &deadline);
    void RefuseTelnetServer(const Deadline &deadline);
    void Negotiate(const Deadline &deadline);
    void AwaitServerClose(const Deadline &deadline);
    // Listens up to the deadline and takes what came: the telnet in it answered once we may
    // speak, the server's words kept; fails when the server closed, saying when that was.
    void Hear(const Deadline &deadline, const std::string &closedWhen);
    void Answer(const Deadline &deadline);
    [[noreturn]] void FailClosed(const std::string &closedWhen) const;
    [[noreturn]] void QuietFailure() const;

    NetworkAddress m_address;
    std::shared_ptr<SocketCalls> m_calls;
    LineSettings m_settings;
    ComPortTelnet m_telnet;
    std::vector<std::uint8_t> m_answer; // to the server's telnet, not yet sent
    bool m_speaking = false; // telnet answers go out: an RFC 2217 server has shown it is one
    std::unique_ptr<TcpConnection> m_connection;
};

// The line for a --device value that is a network address; none for any other value.
std::unique_ptr<SerialLine> NetworkLineFor(const std::string &device);

} // namespace ostrim
