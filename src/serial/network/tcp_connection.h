#pragma once

#include "serial/network/socket_calls.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrim {

using NetworkClock = std::chrono::steady_clock;

// One press over the network, from the name's look-up to the server's taking the frame, ends
// within this: a device server on the far side of a slow link answers well inside it, and a
// user waiting at a shell does not wait much longer.
inline constexpr std::chrono::seconds NetworkTimeout {5};
// After the frame, how long the close waits for the server to close its side in turn, which
// shows it has read everything; a server that keeps its side open is trusted once its machine
// has acknowledged every byte.
inline constexpr std::chrono::milliseconds HandOverWait {500};

// "within 5 seconds", for the messages of each step that the limit ended.
std::string WithinNetworkTimeout();

// A TCP connection to a server, made and used before one deadline. Every failure is thrown as a
// LineFailure whose message begins with the name it was given, the address as the user wrote it.
class TcpConnection
{
public:
    // Looks the host up, on a thread of its own that is left behind if the resolver does not
    // answer in time, and connects to the first of its addresses that accepts.
    TcpConnection(std::string name, const std::string &host, std::uint16_t port,
        NetworkClock::time_point deadline);
    ~TcpConnection();
    TcpConnection(const TcpConnection &) = delete;
    TcpConnection &operator=(const TcpConnection &) = delete;

    // All of the bytes, or a failure when the server does not take them before the deadline.
    void Send(std::span<const std::uint8_t> bytes);
    // Bytes as they come, an empty vector once the server has closed, nothing at the deadline.
    std::optional<std::vector<std::uint8_t>> Receive();
    // As much as goes at once, for a last request on the way out; never waits, never fails.
    void SendWhatFits(std::span<const std::uint8_t> bytes) noexcept;
    // Closes the sending side and waits until what was sent is the server's: its close in turn,
    // or every byte acknowledged by the end of the hand-over wait, before the deadline.
    void HandOver();

    [[noreturn]] void Fail(const std::string &what, int number = 0) const;

private:
    std::chrono::milliseconds Remaining() const;

    std::string m_name;
    NetworkClock::time_point m_deadline;
    socket_calls::Startup m_startup;
    socket_calls::Socket m_socket = socket_calls::NoSocket;
};

} // namespace ostrim
