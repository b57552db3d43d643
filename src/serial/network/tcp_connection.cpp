#include "serial/network/tcp_connection.h"

#include <array>

namespace ostrim {

using socket_calls::Endpoint;
using socket_calls::Failure;
using socket_calls::Outcome;
using socket_calls::Resolved;

std::string WithinNetworkTimeout()
{
    return WithinText(NetworkTimeout);
}

TcpConnection::TcpConnection(std::shared_ptr<SocketCalls> calls, std::string name,
    const std::string &host, std::uint16_t port, const Deadline &deadline)
    : m_calls(std::move(calls))
    , m_name(std::move(name))
{
    const std::optional<Resolved> resolved = m_calls->Resolve(host, port, deadline.Left());
    if (!resolved) {
        Fail("the name " + host + " was not looked up " + WithinNetworkTimeout(), 0,
            FailureReason::ServerTimeout);
    }
    if (resolved->endpoints.empty()) {
        Fail(resolved->notFound
                ? "no host named " + host + " was found"
                : "the name " + host + " was not looked up: " + resolved->failure.text,
            resolved->failure.number);
    }
    Failure last {Outcome::WouldBlock, 0, {}};
    for (const Endpoint &endpoint : resolved->endpoints) {
        if (deadline.Passed())
            break;
        const SocketCalls::Socket socket = m_calls->OpenNonBlocking(endpoint.family);
        if (socket == socket_calls::NoSocket) {
            last = m_calls->LastFailure();
            continue;
        }
        Failure outcome = m_calls->StartConnect(socket, endpoint);
        if (outcome.outcome == Outcome::WouldBlock) {
            outcome = m_calls->WaitUntil(socket, true, deadline.Left())
                ? m_calls->ConnectResult(socket)
                : Failure {Outcome::WouldBlock, 0, {}};
        }
        if (outcome.outcome == Outcome::Done) {
            m_socket = socket;
            return;
        }
        m_calls->Close(socket);
        last = outcome;
    }
    switch (last.outcome) {
    case Outcome::Refused:
        Fail(
            "refused the connection: nothing listens on port " + std::to_string(port), last.number);
    case Outcome::Unreachable:
        Fail("cannot be reached: " + last.text, last.number);
    case Outcome::WouldBlock:
        Fail("did not accept the connection " + WithinNetworkTimeout(), 0,
            FailureReason::ServerTimeout);
    default:
        Fail("cannot be connected to: " + last.text, last.number);
    }
}

TcpConnection::~TcpConnection()
{
    if (m_socket != socket_calls::NoSocket)
        m_calls->Close(m_socket);
}

void TcpConnection::Fail(const std::string &what, int number, FailureReason reason) const
{
    throw LineFailure {m_name + " " + what, number, reason, {}, LineFailure::Named::Alone};
}

void TcpConnection::Send(std::span<const std::uint8_t> bytes, const Deadline &deadline)
{
    while (!bytes.empty()) {
        const long sent = m_calls->SendSome(m_socket, bytes);
        if (sent > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
            continue;
        }
        const Failure failure = m_calls->LastFailure();
        if (failure.outcome == Outcome::Closed)
            Fail("closed the connection before it took the frame, so nothing was sent",
                failure.number);
        if (failure.outcome != Outcome::WouldBlock)
            Fail("could not be sent to: " + failure.text, failure.number);
        if (deadline.Passed() || !m_calls->WaitUntil(m_socket, true, deadline.Left())) {
            Fail("stopped reading: it did not take what was sent " + WithinNetworkTimeout(), 0,
                FailureReason::ServerTimeout);
        }
    }
}

Heard TcpConnection::Listen(const Deadline &deadline)
{
    std::array<std::uint8_t, 512> buffer;
    Heard heard;
    for (;;) {
        // The deadline is checked before each wait, not left to it: a server that never stops
        // sending would otherwise always find the socket readable.
        const bool waited = !heard.bytes.empty() || deadline.Passed()
            ? m_calls->WaitUntil(m_socket, false, std::chrono::milliseconds {0})
            : m_calls->WaitUntil(m_socket, false, deadline.Left());
        if (!waited)
            return heard;
        const long received = m_calls->ReceiveSome(m_socket, buffer);
        if (received > 0) {
            heard.bytes.insert(heard.bytes.end(), buffer.begin(), buffer.begin() + received);
            if (heard.bytes.size() >= buffer.size() || deadline.Passed())
                return heard;
            continue;
        }
        if (received == 0) {
            heard.closed = true;
            return heard;
        }
        const Failure failure = m_calls->LastFailure();
        if (failure.outcome == Outcome::Closed) {
            heard.closed = heard.reset = true;
            return heard;
        }
        if (failure.outcome != Outcome::WouldBlock)
            Fail("could not be read from: " + failure.text, failure.number);
    }
}

void TcpConnection::SendWhatFits(std::span<const std::uint8_t> bytes) noexcept
{
    if (m_socket != socket_calls::NoSocket && !bytes.empty())
        m_calls->SendSome(m_socket, bytes);
}

void TcpConnection::ShutdownSending()
{
    m_calls->ShutdownSending(m_socket);
}

std::optional<int> TcpConnection::Unacknowledged()
{
    return m_calls->Unacknowledged(m_socket);
}

} // namespace ostrim
