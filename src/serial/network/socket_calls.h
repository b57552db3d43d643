#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The few socket calls a connection makes, over the platform's own (BSD sockets or Winsock), so
// that what a connection does with them is written once.
namespace ostrim::socket_calls {

using Socket = std::uintptr_t;
inline constexpr Socket NoSocket = ~Socket {0};

enum class Outcome { Done, WouldBlock, Refused, Unreachable, Closed, Other };

// What a call that failed left behind: its kind, the system's number and its words.
struct Failure
{
    Outcome outcome = Outcome::Done;
    int number = 0;
    std::string text;
};

struct Endpoint
{
    int family = 0;
    std::vector<std::byte> address; // the system's socket address, as the resolver gave it
};

// Each object holding sockets or resolving names holds one of these: Winsock must be started
// once per user and stopped as often.
class Startup
{
public:
    Startup();
    ~Startup();
    Startup(const Startup &) = delete;
    Startup &operator=(const Startup &) = delete;
};

// Blocks for as long as the system's resolver takes; the caller bounds that.
struct Resolved
{
    std::vector<Endpoint> endpoints;
    bool notFound = false; // the resolver says the name does not exist
    Failure failure; // otherwise, why none came
};
Resolved Resolve(const std::string &host, std::uint16_t port);

Socket OpenNonBlocking(int family);
Failure LastFailure();
// Done, WouldBlock while the connection is under way, or why it cannot be made.
Failure StartConnect(Socket socket, const Endpoint &endpoint);
// How the connection that StartConnect began has ended, once the socket is writable.
Failure ConnectResult(Socket socket);
// True once the socket can be read (or written), false when the time is over first.
bool WaitUntil(Socket socket, bool forWriting, std::chrono::milliseconds time);
// Bytes handed over or taken, or -1 with LastFailure() telling why; 0 from Receive is the
// other side's close.
long SendSome(Socket socket, std::span<const std::uint8_t> bytes);
long ReceiveSome(Socket socket, std::span<std::uint8_t> bytes);
void ShutdownSending(Socket socket);
void Close(Socket socket);
// Bytes sent that the other side has not yet acknowledged, where the system tells it.
std::optional<int> Unacknowledged(Socket socket);

} // namespace ostrim::socket_calls

namespace ostrim {

// The same calls as one object that a connection is handed, so that its tests can play a server
// on a clock of their own, with no network and no real wait. Each holds Winsock started.
class SocketCalls
{
public:
    using Socket = socket_calls::Socket;
    using Failure = socket_calls::Failure;

    virtual ~SocketCalls() = default;

    // The host's addresses, or nothing when the resolver has not answered within the time.
    virtual std::optional<socket_calls::Resolved> Resolve(
        const std::string &host, std::uint16_t port, std::chrono::milliseconds time)
        = 0;
    virtual Socket OpenNonBlocking(int family) = 0;
    virtual Failure LastFailure() = 0;
    virtual Failure StartConnect(Socket socket, const socket_calls::Endpoint &endpoint) = 0;
    virtual Failure ConnectResult(Socket socket) = 0;
    virtual bool WaitUntil(Socket socket, bool forWriting, std::chrono::milliseconds time) = 0;
    virtual long SendSome(Socket socket, std::span<const std::uint8_t> bytes) = 0;
    virtual long ReceiveSome(Socket socket, std::span<std::uint8_t> bytes) = 0;
    virtual void ShutdownSending(Socket socket) = 0;
    virtual void Close(Socket socket) = 0;
    virtual std::optional<int> Unacknowledged(Socket socket) = 0;
};

// The platform's own calls.
std::shared_ptr<SocketCalls> SystemSocketCalls();

} // namespace ostrim
