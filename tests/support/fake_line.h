#pragma once

#include "hex_text.h"
#include "runtime/action_error.h"
#include "serial/serial_line.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace ostrim::test {

// The tests' one stand-in for a serial line, for the order of the calls a face makes and for
// failures no real port gives on demand. Each call is noted to the sink as "port 3",
// "settings 2400,N,8,1", "open", "write 07 A0", "close" or "is open?". Given a real line, it
// passes every call on to it, so that a step of the test can run between two of the action's.
class FakeLine final : public SerialLine
{
public:
    using Sink = std::function<void(const std::string &call)>;

    explicit FakeLine(Sink sink = {}, SerialLine *real = nullptr)
        : m_sink(std::move(sink))
        , m_real(real)
    { }

    // The call ("port", "settings", "open", "write", "close", "is open?") fails before it takes
    // effect, with the error given or else "<call> failed": a failed close leaves the port open.
    void Fail(const std::string &call, std::optional<ActionError> error = std::nullopt)
    {
        m_failures.insert_or_assign(
            call, error.value_or(ActionError(FailureKind::SerialLine, call + " failed")));
    }
    // Runs the test's step once the call has succeeded.
    void After(const std::string &call, std::function<void()> step)
    {
        m_steps.insert_or_assign(call, std::move(step));
    }
    // The device the line reports, in place of "/dev/fake" and the port number.
    void NameDevice(std::string device) { m_device = std::move(device); }

    void SetPortNumber(std::int16_t number) override
    {
        Call("port", std::to_string(number), [&] {
            if (m_real)
                m_real->SetPortNumber(number);
            else if (number < 1)
                throw ActionError(FailureKind::SerialLine, "Invalid port number");
            m_port = number;
        });
    }
    void SetSettings(const std::string &settings) override
    {
        Call("settings", settings, [&] { m_real ? m_real->SetSettings(settings) : void(); });
    }
    void Open() override
    {
        Call("open", {}, [&] { m_real ? m_real->Open() : void(m_open = true); });
    }
    void Write(std::span<const std::uint8_t> bytes) override
    {
        Call("write", HexText(bytes), [&] { m_real ? m_real->Write(bytes) : void(); });
    }
    void Close() override
    {
        Call("close", {}, [&] { m_real ? m_real->Close() : void(m_open = false); });
    }
    bool IsOpen() const override
    {
        Begin("is open?");
        return m_real ? m_real->IsOpen() : m_open;
    }
    std::string Device() const override
    {
        if (m_real)
            return m_real->Device();
        return m_device.value_or("/dev/fake" + std::to_string(m_port));
    }

private:
    void Begin(const std::string &call, const std::string &detail = {}) const
    {
        if (m_sink)
            m_sink(detail.empty() ? call : call + " " + detail);
        if (const auto failure = m_failures.find(call); failure != m_failures.end())
            throw failure->second;
    }
    // Notes the call, fails it where the test said so, else lets it take effect and runs the
    // test's step after it.
    template<typename Effect>
    void Call(const std::string &call, const std::string &detail, Effect &&effect)
    {
        Begin(call, detail);
        effect();
        if (const auto step = m_steps.find(call); step != m_steps.end())
            step->second();
    }

    Sink m_sink;
    SerialLine *m_real = nullptr;
    std::map<std::string, ActionError> m_failures;
    std::map<std::string, std::function<void()>> m_steps;
    std::optional<std::string> m_device;
    std::int16_t m_port = 0;
    bool m_open = false;
};

} // namespace ostrim::test
