#pragma once

#include "hex_text.h"
#include "serial/network/socket_calls.h"
#include "serial/serial_port_line.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ostrim::test {

using namespace std::chrono_literals;

// A device server as a connection meets it, played on the test's own clock: what it says at the
// connect, how it takes the telnet negotiation, when it closes.
struct ServerScript
{
    enum class Connect { Accepts, Refuses, NeverAnswers };
    enum class Close {
        AfterClient, // once the client has closed its sending side: a healthy server
        AtConnect, // at once, after its greeting: a refusal
        AfterFrame, // once the frame came, before the client is done
        ResetAfterClient, // a reset instead of a close at the hand-over
        Never, // keeps its side open
    };

    Connect connect = Connect::Accepts;
    std::vector<std::uint8_t> greeting {}; // sent as the connection is made
    bool agreesToComPort = false; // answers the client's opening as an RFC 2217 server does
    bool confirms = true; // and confirms each setting, as asked unless baudRate says otherwise
    std::uint32_t baudRate = 2400;
    Close close = Close::AfterClient;
    std::chrono::milliseconds closeAfter {0};
    bool stopsReading = false; // takes nothing the client sends
    bool neverStopsSending = false;
    int unacknowledged = 0; // bytes its machine never acknowledges
};

// What the client did, on the test's clock.
struct SocketRecord
{
    using Clock = LineClock::Clock;
    Clock::time_point now = Clock::time_point {} + 1h;
    std::vector<std::uint8_t> sent {};
    std::optional<Clock::time_point> frameSent {};
    std::optional<Clock::time_point> shutDown {};
    std::optional<Clock::time_point> closed {};
};

// The socket calls of a connection to the scripted server. A wait moves the clock to the
// server's next move, or by the whole time when there is none before it: no real wait anywhere.
class ScriptedSockets final : public SocketCalls
{
public:
    ScriptedSockets(ServerScript script, SocketRecord &record, std::vector<std::uint8_t> frame)
        : m_script(std::move(script))
        , m_record(record)
        , m_frame(std::move(frame))
    { }

    std::optional<socket_calls::Resolved> Resolve(
        const std::string &, std::uint16_t, std::chrono::milliseconds) override
    {
        return socket_calls::Resolved {{{2, std::vector<std::byte>(16)}}, false, {}};
    }
    Socket OpenNonBlocking(int) override { return 3; }
    Failure LastFailure() override { return m_last; }
    Failure StartConnect(Socket, const socket_calls::Endpoint &) override
    {
        switch (m_script.connect) {
        case ServerScript::Connect::Refuses:
            return {socket_calls::Outcome::Refused, 111, "Connection refused"};
        case ServerScript::Connect::NeverAnswers:
            return {socket_calls::Outcome::WouldBlock, 115, {}};
        case ServerScript::Connect::Accepts:
            break;
        }
        Say(m_script.greeting);
        if (m_script.close == ServerScript::Close::AtConnect)
            CloseIn(m_script.closeAfter);
        return {};
    }
    Failure ConnectResult(Socket) override { return {}; }
    bool WaitUntil(Socket, bool forWriting, std::chrono::milliseconds time) override
    {
        if (forWriting) {
            const bool never
                = m_script.connect == ServerScript::Connect::NeverAnswers || m_script.stopsReading;
            if (never)
                m_record.now += time;
            return !never;
        }
        if (Readable())
            return true;
        if (m_closesAt && *m_closesAt <= m_record.now + time) {
            m_record.now = std::max(m_record.now, *m_closesAt);
            return true;
        }
        m_record.now += time;
        return false;
    }
    long SendSome(Socket, std::span<const std::uint8_t> bytes) override
    {
        if (m_script.stopsReading)
            return Fail(socket_calls::Outcome::WouldBlock);
        m_record.sent.insert(m_record.sent.end(), bytes.begin(), bytes.end());
        if (!m_record.frameSent && std::ranges::search(m_record.sent, m_frame)) {
            m_record.frameSent = m_record.now;
            if (m_script.close == ServerScript::Close::AfterFrame)
                CloseIn(m_script.closeAfter);
        }
        Negotiate();
        return static_cast<long>(bytes.size());
    }
    long ReceiveSome(Socket, std::span<std::uint8_t> bytes) override
    {
        if (m_script.neverStopsSending && m_heardOpening) {
            m_record.now += 1ms; // reading takes time, or a loop that trusts the wait never ends
            std::ranges::fill(bytes, std::uint8_t {'A'});
            return static_cast<long>(bytes.size());
        }
        if (!m_said.empty()) {
            const std::size_t count = std::min(bytes.size(), m_said.size());
            std::copy_n(m_said.begin(), count, bytes.begin());
            m_said.erase(m_said.begin(), m_said.begin() + static_cast<long>(count));
            return static_cast<long>(count);
        }
        if (m_closesAt && *m_closesAt <= m_record.now) {
            if (m_script.close == ServerScript::Close::ResetAfterClient)
                return Fail(socket_calls::Outcome::Closed);
            return 0;
        }
        return Fail(socket_calls::Outcome::WouldBlock);
    }
    void ShutdownSending(Socket) override
    {
        m_record.shutDown = m_record.now;
        if (m_script.close == ServerScript::Close::AfterClient
            || m_script.close == ServerScript::Close::ResetAfterClient)
            CloseIn(m_script.closeAfter);
    }
    void Close(Socket) override { m_record.closed = m_record.now; }
    std::optional<int> Unacknowledged(Socket) override { return m_script.unacknowledged; }

private:
    bool Readable() const
    {
        return !m_said.empty() || (m_closesAt && *m_closesAt <= m_record.now)
            || (m_script.neverStopsSending && m_heardOpening);
    }
    void Say(std::span<const std::uint8_t> bytes)
    {
        m_said.insert(m_said.end(), bytes.begin(), bytes.end());
    }
    void CloseIn(std::chrono::milliseconds time) { m_closesAt = m_record.now + time; }
    long Fail(socket_calls::Outcome outcome)
    {
        m_last = {outcome, outcome == socket_calls::Outcome::Closed ? 104 : 11, "scripted"};
        return -1;
    }

    // Agrees once the client has offered the option, and confirms once it has asked for all five
    // settings (each request ends in IAC SE).
    void Negotiate()
    {
        static const std::vector<std::uint8_t> offer {0xFF, 0xFB, 0x2C};
        static const std::vector<std::uint8_t> end {0xFF, 0xF0};
        if (!m_heardOpening && std::ranges::search(m_record.sent, offer))
            m_heardOpening = true;
        if (!m_script.agreesToComPort || !m_heardOpening)
            return;
        if (!m_agreed) {
            m_agreed = true;
            Say(std::vector<std::uint8_t> {0xFF, 0xFD, 0x2C, 0xFF, 0xFD, 0x00});
        }
        std::size_t requests = 0;
        for (auto at = m_record.sent.begin();
             (at = std::search(at, m_record.sent.end(), end.begin(), end.end()))
             != m_record.sent.end();
             at += 2)
            ++requests;
        if (m_confirmed || requests < 5 || !m_script.confirms)
            return;
        m_confirmed = true;
        const std::uint32_t baud = m_script.baudRate;
        Say(std::vector<std::uint8_t> {0xFF, 0xFA, 0x2C, 0x65,
            static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
            static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud), 0xFF, 0xF0, 0xFF,
            0xFA, 0x2C, 0x66, 8, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x67, 1, 0xFF, 0xF0, 0xFF, 0xFA,
            0x2C, 0x68, 1, 0xFF, 0xF0});
    }

    ServerScript m_script;
    SocketRecord &m_record;
    std::vector<std::uint8_t> m_frame;
    std::vector<std::uint8_t> m_said;
    std::optional<SocketRecord::Clock::time_point> m_closesAt;
    bool m_heardOpening = false;
    bool m_agreed = false;
    bool m_confirmed = false;
    Failure m_last;
};

} // namespace ostrim::test
