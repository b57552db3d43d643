#include "serial/network/socket_calls.h"
#include "serial/win32/win32_text.h"

#include <algorithm>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ostrim::socket_calls {
namespace {

SOCKET Handle(Socket socket)
{
    return static_cast<SOCKET>(socket);
}

Outcome OutcomeOf(int number)
{
    switch (number) {
    case 0:
        return Outcome::Done;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEINTR:
        return Outcome::WouldBlock;
    case WSAECONNREFUSED:
        return Outcome::Refused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
        return Outcome::Unreachable;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
        return Outcome::Closed;
    default:
        return Outcome::Other;
    }
}

Failure FailureOf(int number)
{
    return {OutcomeOf(number), number, "Windows socket error " + std::to_string(number)};
}

} // namespace

Startup::Startup()
{
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
}

Startup::~Startup()
{
    ::WSACleanup();
}

Resolved Resolve(const std::string &host, std::uint16_t port)
{
    ADDRINFOW hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW *found = nullptr;
    const int error
        = ::GetAddrInfoW(Widen(host).c_str(), std::to_wstring(port).c_str(), &hints, &found);
    Resolved resolved;
    if (error != 0) {
        resolved.notFound = error == WSAHOST_NOT_FOUND || error == WSANO_DATA;
        resolved.failure = FailureOf(error);
        return resolved;
    }
    for (const ADDRINFOW *each = found; each; each = each->ai_next) {
        const auto *bytes = reinterpret_cast<const std::byte *>(each->ai_addr);
        resolved.endpoints.push_back({each->ai_family, {bytes, bytes + each->ai_addrlen}});
    }
    ::FreeAddrInfoW(found);
    return resolved;
}

Socket OpenNonBlocking(int family)
{
    const SOCKET handle
        = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET)
        return NoSocket;
    u_long nonBlocking = 1;
    if (::ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(handle);
        return NoSocket;
    }
    // Each small answer and the frame go at once, not held back for the acknowledgement of the
    // one before.
    const BOOL noDelay = TRUE;
    ::setsockopt(
        handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);
    return static_cast<Socket>(handle);
}

Failure LastFailure()
{
    return FailureOf(::WSAGetLastError());
}

Failure StartConnect(Socket socket, const Endpoint &endpoint)
{
    if (::connect(Handle(socket), reinterpret_cast<const sockaddr *>(endpoint.address.data()),
            static_cast<int>(endpoint.address.size()))
        == 0)
        return {};
    return LastFailure();
}

Failure ConnectResult(Socket socket)
{
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size)
        != 0)
        return LastFailure();
    return error == 0 ? Failure {} : FailureOf(error);
}

// select, not WSAPoll: WSAPoll does not report a refused connection on every Windows version,
// which would leave a refusal waiting for the deadline.
bool WaitUntil(Socket socket, bool forWriting, std::chrono::milliseconds time)
{
    fd_set watched;
    FD_ZERO(&watched);
    FD_SET(Handle(socket), &watched);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(Handle(socket), &failed);
    const long long milliseconds = std::max<long long>(time.count(), 0);
    timeval timeout {
        static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    return ::select(0, forWriting ? nullptr : &watched, forWriting ? &watched : nullptr, &failed,
               &timeout)
        > 0;
}

long SendSome(Socket socket, std::span<const std::uint8_t> bytes)
{
    const int sent = ::send(Handle(socket), reinterpret_cast<const char *>(bytes.data()),
        static_cast<int>(bytes.size()), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long ReceiveSome(Socket socket, std::span<std::uint8_t> bytes)
{
    const int received = ::recv(
        Handle(socket), reinterpret_cast<char *>(bytes.data()), static_cast<int>(bytes.size()), 0);
    return received == SOCKET_ERROR ? -1 : received;
}

void ShutdownSending(Socket socket)
{
    ::shutdown(Handle(socket), SD_SEND);
}

void Close(Socket socket)
{
    ::closesocket(Handle(socket));
}

std::optional<int> Unacknowledged(Socket)
{
    return std::nullopt;
}

} // namespace ostrim::socket_calls
