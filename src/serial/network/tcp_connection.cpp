#include "serial/network/tcp_connection.h"

#include "serial/line_backend.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace ostrim {

using namespace socket_calls;

namespace {

// The look-up's result, shared with its thread: the thread may outlive the connection when the
// resolver hangs, and then finishes into a result nobody reads.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<Resolved> resolved;
};

std::optional<Resolved> ResolveBefore(
    const std::string &host, std::uint16_t port, NetworkClock::time_point deadline)
{
    const auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        const Startup startup;
        Resolved resolved = Resolve(host, port);
        const std::lock_guard lock(lookup->mutex);
        lookup->resolved = std::move(resolved);
        lookup->finished.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    lookup->finished.wait_until(lock, deadline, [&] { return lookup->resolved.has_value(); });
    return lookup->resolved;
}

std::string ConnectFailureText(const Failure &failure, std::uint16_t port)
{
    switch (failure.outcome) {
    case Outcome::Refused:
        return "refused the connection: nothing listens on port " + std::to_string(port);
    case Outcome::Unreachable:
        return "cannot be reached: " + failure.text;
    case Outcome::WouldBlock:
        return "did not accept the connection " + WithinNetworkTimeout();
    default:
        return "cannot be connected to: " + failure.text;
    }
}

} // namespace

std::string WithinNetworkTimeout()
{
    const auto seconds = NetworkTimeout.count();
    return "within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

TcpConnection::TcpConnection(std::string name, const std::string &host, std::uint16_t port,
    NetworkClock::time_point deadline)
    : m_name(std::move(name))
    , m_deadline(deadline)
{
    const std::optional<Resolved> resolved = ResolveBefore(host, port, m_deadline);
    if (!resolved)
        Fail("the name " + host + " was not looked up " + WithinNetworkTimeout());
    if (resolved->endpoints.empty()) {
        Fail(resolved->notFound
                ? "no host named " + host + " was found"
                : "the name " + host + " was not looked up: " + resolved->failure.text,
            resolved->failure.number);
    }
    Failure last {Outcome::WouldBlock, 0, {}};
    for (const Endpoint &endpoint : resolved->endpoints) {
        if (Remaining().count() <= 0)
            break;
        const Socket socket = OpenNonBlocking(endpoint.family);
        if (socket == NoSocket) {
            last = LastFailure();
            continue;
        }
        Failure outcome = StartConnect(socket, endpoint);
        if (outcome.outcome == Outcome::WouldBlock) {
            outcome = WaitUntil(socket, true, Remaining()) ? ConnectResult(socket)
                                                           : Failure {Outcome::WouldBlock, 0, {}};
        }
        if (outcome.outcome == Outcome::Done) {
            m_socket = socket;
            return;
        }
        Close(socket);
        last = outcome;
    }
    Fail(ConnectFailureText(last, port), last.number);
}

TcpConnection::~TcpConnection()
{
    if (m_socket != NoSocket)
        Close(m_socket);
}

std::chrono::milliseconds TcpConnection::Remaining() const
{
    return std::chrono::ceil<std::chrono::milliseconds>(m_deadline - NetworkClock::now());
}

void TcpConnection::Fail(const std::string &what, int number) const
{
    throw LineFailure {
        m_name + " " + what, number, FailureReason::Other, {}, LineFailure::Named::Alone};
}

void TcpConnection::Send(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const long sent = SendSome(m_socket, bytes);
        if (sent > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
            continue;
        }
        const Failure failure = LastFailure();
        if (failure.outcome == Outcome::Closed)
            Fail("closed the connection before it took the frame", failure.number);
        if (failure.outcome != Outcome::WouldBlock)
            Fail("could not be sent to: " + failure.text, failure.number);
        if (!WaitUntil(m_socket, true, Remaining()))
            Fail("stopped reading: it did not take what was sent " + WithinNetworkTimeout());
    }
}

std::optional<std::vector<std::uint8_t>> TcpConnection::Receive()
{
    std::array<std::uint8_t, 512> buffer;
    for (;;) {
        // Checked before each wait, not only by it: a server that never stops sending would
        // otherwise always find the socket readable.
        if (Remaining().count() <= 0 || !WaitUntil(m_socket, false, Remaining()))
            return std::nullopt;
        const long received = ReceiveSome(m_socket, buffer);
        if (received >= 0)
            return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + received);
        const Failure failure = LastFailure();
        if (failure.outcome == Outcome::Closed)
            return std::vector<std::uint8_t> {};
        if (failure.outcome != Outcome::WouldBlock)
            Fail("could not be read from: " + failure.text, failure.number);
    }
}

void TcpConnection::SendWhatFits(std::span<const std::uint8_t> bytes) noexcept
{
    if (m_socket != NoSocket && !bytes.empty())
        SendSome(m_socket, bytes);
}

void TcpConnection::HandOver()
{
    ShutdownSending(m_socket);
    const auto waitEnds = std::min(m_deadline, NetworkClock::now() + HandOverWait);
    std::array<std::uint8_t, 512> buffer;
    // Whatever the server still says is read and dropped: a socket closed with unread bytes is
    // reset, and a reset may take the frame with it.
    while (NetworkClock::now() < waitEnds) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(waitEnds - NetworkClock::now());
        if (!WaitUntil(m_socket, false, left))
            break;
        const long received = ReceiveSome(m_socket, buffer);
        if (received == 0)
            return;
        if (received < 0 && LastFailure().outcome != Outcome::WouldBlock)
            break;
    }
    for (;;) {
        const std::optional<int> unacknowledged = Unacknowledged(m_socket);
        if (!unacknowledged || *unacknowledged == 0)
            return;
        if (Remaining().count() <= 0)
            Fail("stopped reading: it did not take the frame " + WithinNetworkTimeout());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace ostrim
