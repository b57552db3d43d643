#include "serial/network/socket_calls.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace ostrim {
namespace {

// The look-up's result, shared with its thread: the thread may outlive the call when the resolver
// hangs, and then finishes into a result nobody reads.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<socket_calls::Resolved> resolved;
};

class SystemCalls final : public SocketCalls
{
public:
    // The system's resolver blocks for as long as it likes, so it runs on a thread of its own
    // that is left behind when it does not answer in time.
    std::optional<socket_calls::Resolved> Resolve(
        const std::string &host, std::uint16_t port, std::chrono::milliseconds time) override
    {
        const auto lookup = std::make_shared<Lookup>();
        std::thread([lookup, host, port] {
            const socket_calls::Startup startup;
            socket_calls::Resolved resolved = socket_calls::Resolve(host, port);
            const std::lock_guard lock(lookup->mutex);
            lookup->resolved = std::move(resolved);
            lookup->finished.notify_all();
        }).detach();
        std::unique_lock lock(lookup->mutex);
        lookup->finished.wait_for(lock, time, [&] { return lookup->resolved.has_value(); });
        return lookup->resolved;
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
