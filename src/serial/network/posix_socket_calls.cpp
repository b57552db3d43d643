#include "serial/network/socket_calls.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif

namespace ostrim::socket_calls {
namespace {

int Handle(Socket socket)
{
    return static_cast<int>(socket);
}

Outcome OutcomeOf(int number)
{
    switch (number) {
    case 0:
        return Outcome::Done;
    case EINPROGRESS:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
        return Outcome::WouldBlock;
    case ECONNREFUSED:
        return Outcome::Refused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return Outcome::Unreachable;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
        return Outcome::Closed;
    default:
        return Outcome::Other;
    }
}

Failure FailureOf(int number)
{
    return {OutcomeOf(number), number, std::generic_category().message(number)};
}

} // namespace

Startup::Startup() = default;
Startup::~Startup() = default;

Resolved Resolve(const std::string &host, std::uint16_t port)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    Resolved resolved;
    if (error != 0) {
        resolved.notFound = error == EAI_NONAME || error == EAI_NODATA;
        resolved.failure = {Outcome::Other, error, ::gai_strerror(error)};
        return resolved;
    }
    for (const addrinfo *each = found; each; each = each->ai_next) {
        const auto *bytes = reinterpret_cast<const std::byte *>(each->ai_addr);
        resolved.endpoints.push_back({each->ai_family, {bytes, bytes + each->ai_addrlen}});
    }
    ::freeaddrinfo(found);
    return resolved;
}

Socket OpenNonBlocking(int family)
{
    const int handle = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle < 0)
        return NoSocket;
    // Each small answer and the frame go at once, not held back for the acknowledgement of the
    // one before, which a server may delay by tens of milliseconds.
    const int noDelay = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    return static_cast<Socket>(handle);
}

Failure LastFailure()
{
    return FailureOf(errno);
}

Failure StartConnect(Socket socket, const Endpoint &endpoint)
{
    if (::connect(Handle(socket), reinterpret_cast<const sockaddr *>(endpoint.address.data()),
            static_cast<socklen_t>(endpoint.address.size()))
        == 0)
        return {};
    return LastFailure();
}

Failure ConnectResult(Socket socket)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return LastFailure();
    return error == 0 ? Failure {} : FailureOf(error);
}

bool WaitUntil(Socket socket, bool forWriting, std::chrono::milliseconds time)
{
    pollfd watched {Handle(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    return ::poll(&watched, 1, static_cast<int>(std::max<long long>(time.count(), 0))) > 0;
}

long SendSome(Socket socket, std::span<const std::uint8_t> bytes)
{
    // A server that has gone must not end the program by its signal.
    return ::send(Handle(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

long ReceiveSome(Socket socket, std::span<std::uint8_t> bytes)
{
    const long received = ::recv(Handle(socket), bytes.data(), bytes.size(), 0);
#ifdef TCP_QUICKACK
    // What came is acknowledged at once rather than up to 40 ms later: a server that holds its
    // next small answer until then (ser2net does, between its negotiation's answers) would
    // otherwise make every press that much longer. The system leaves this mode by itself.
    if (received > 0) { // a failure's errno stays for LastFailure
        const int quickly = 1;
        ::setsockopt(Handle(socket), IPPROTO_TCP, TCP_QUICKACK, &quickly, sizeof quickly);
    }
#endif
    return received;
}

void ShutdownSending(Socket socket)
{
    ::shutdown(Handle(socket), SHUT_WR);
}

void Close(Socket socket)
{
    ::close(Handle(socket));
}

std::optional<int> Unacknowledged(Socket socket)
{
#ifdef SIOCOUTQ
    int queued = 0;
    if (::ioctl(Handle(socket), SIOCOUTQ, &queued) == 0)
        return queued;
#endif
    (void)socket;
    return std::nullopt;
}

} // namespace ostrim::socket_calls
