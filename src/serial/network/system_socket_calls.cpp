#include "serial/network/socket_calls.h"

namespace ostrim {
namespace {

class SystemCalls final : public SocketCalls
{
public:
    socket_calls::Resolved Resolve(const std::string &host, std::uint16_t port) override
    {
        return socket_calls::Resolve(host, port);
    }
    Socket OpenNonBlocking(int family) override { return socket_calls::OpenNonBlocking(family); }
    Failure LastFailure() override { return socket_calls::LastFailure(); }
    Failure StartConnect(Socket socket, const socket_calls::Endpoint &endpoint) override
    {
        return socket_calls::StartConnect(socket, endpoint);
    }
    Failure ConnectResult(Socket socket) override { return socket_calls::ConnectResult(socket); }
    bool WaitUntil(Socket socket, bool forWriting, std::chrono::milliseconds time) override
    {
        return socket_calls::WaitUntil(socket, forWriting, time);
    }
    long SendSome(Socket socket, std::span<const std::uint8_t> bytes) override
    {
        return socket_calls::SendSome(socket, bytes);
    }
    long ReceiveSome(Socket socket, std::span<std::uint8_t> bytes) override
    {
        return socket_calls::ReceiveSome(socket, bytes);
    }
    void ShutdownSending(Socket socket) override { socket_calls::ShutdownSending(socket); }
    void Close(Socket socket) override { socket_calls::Close(socket); }
    std::optional<int> Unacknowledged(Socket socket) override
    {
        return socket_calls::Unacknowledged(socket);
    }

private:
    socket_calls::Startup m_startup;
};

} // namespace

std::shared_ptr<SocketCalls> SystemSocketCalls()
{
    return std::make_shared<SystemCalls>();
}

} // namespace ostrim
