#pragma once

#include "runtime/action_error.h"
#include "serial/line_backend.h"
#include "serial/network/socket_calls.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ostrim {

// One press over the network, from the name's look-up to the frame's hand-over, ends within
// this: a device server on the far side of a slow link answers well inside it, and a user waiting
// at a shell does not wait much longer.
inline constexpr std::chrono::seconds NetworkTimeout {5};

// "within 5 seconds", for the messages of each step that the limit ended.
std::string WithinNetworkTimeout();

// What one listen heard: the bytes that came, and whether the server has closed its side (after
// them), gracefully or by a reset.
struct Heard
{
    std::vector<std::uint8_t> bytes;
    bool closed = false;
    bool reset = false;
};

// A TCP connection to a server, made and used before the line's deadlines. Every failure is
// thrown as a LineFailure whose message begins with the name it was given, the address as the
// user wrote it.
class TcpConnection
{
public:
    // Looks the host up and connects to the first of its addresses that accepts, before the
    // deadline.
    TcpConnection(std::shared_ptr<SocketCalls> calls, std::string name, const std::string &host,
        std::uint16_t port, const Deadline &deadline);
    ~TcpConnection();
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    // All of the bytes, or a failure when the server does not take them before the deadline.
    void Send(std::span<const std::uint8_t> bytes, const Deadline &deadline);
    // What the server says up to the deadline: returns as soon as anything came or it closed;
    // with nothing heard once the deadline has passed. A deadline already past still reads what
    // is there.
    Heard Listen(const Deadline &deadline);
    // As much as goes at once, for a last request on the way out; never waits, never fails.
    void SendWhatFits(std::span<const std::uint8_t> bytes) noexcept;
    // The server then reads the end of what we send; the other direction stays open, so that its
    // close can still be read.
    void ShutdownSending();
    // Bytes sent that the server's machine has not acknowledged, where the system tells it.
    std::optional<int> Unacknowledged();

    [[noreturn]] void Fail(
        const std::string &what, int number = 0, FailureReason reason = FailureReason::Other) const;

private:
    std::shared_ptr<SocketCalls> m_calls;
    std::string m_name;
    SocketCalls::Socket m_socket = socket_calls::NoSocket;
};

} // namespace ostrim
