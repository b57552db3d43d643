#pragma once

#include "serial/line_backend.h"
#include "serial/serial_port_line.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace ostrim::test {

// Where the scripted backend fails or stalls, step by step; by default every step succeeds at once.
struct BackendScript
{
    LineBudget budget = LocalLineBudget;
    std::optional<LineFailure> findFails {};
    std::optional<LineFailure> openFails {};
    std::optional<LineFailure> configureFails {};
    std::chrono::milliseconds configureTakes {0};
    std::optional<LineFailure> writeFails {};
    std::chrono::milliseconds writeTakes {0}; // past the limit, the write times out
    int queuedPolls = 0; // how often the queue still holds bytes; -1 for ever
    bool queueUnknown = false;
    std::optional<LineFailure> queueFails {};
    std::optional<LineFailure> drainFails {};
};

// A backend that does what its script says and logs every call it gets, on a clock of the test's
// own that moves only when the line pauses or a step takes time, so that a deadline is checked
// exactly.
class ScriptedBackend final : public LineBackend
{
public:
    using Clock = LineClock::Clock;

    struct Record
    {
        std::string log;
        Clock::time_point now = Clock::time_point {} + std::chrono::hours(1);
        Clock::time_point wrote {};
        Clock::time_point released {};
    };

    ScriptedBackend(BackendScript script, Record &record)
        : m_script(std::move(script))
        , m_record(record)
    { }

    LineBudget Budget() const override { return m_script.budget; }
    std::string Device(std::int16_t number, const std::optional<std::string> &named) override
    {
        Note(named ? "name " + *named : "find " + std::to_string(number));
        Step(m_script.findFails);
        return named.value_or("tty" + std::to_string(number));
    }
    void Open(const std::string &device, const LineSettings &, const Deadline &deadline) override
    {
        Note("open " + device + " within " + std::to_string(deadline.Left().count()) + " ms");
        Step(m_script.openFails);
    }
    void Configure(const LineSettings &settings, const Deadline &) override
    {
        Note("configure " + DescribeLineSettings(settings));
        m_record.now += m_script.configureTakes;
        Step(m_script.configureFails);
    }
    WriteOutcome Write(std::span<const std::uint8_t> bytes, const Deadline &deadline) override
    {
        const std::chrono::milliseconds limit = deadline.Left();
        Note("write " + std::to_string(bytes.size()) + " within " + std::to_string(limit.count())
            + " ms");
        m_record.wrote = m_record.now;
        m_record.now += std::min(m_script.writeTakes, limit);
        Step(m_script.writeFails);
        if (m_script.writeTakes > limit)
            return {0, true};
        return {bytes.size(), false};
    }
    std::optional<std::size_t> Queued() override
    {
        Step(m_script.queueFails);
        if (m_script.queueUnknown)
            return std::nullopt;
        if (m_script.queuedPolls == 0)
            return 0;
        if (m_script.queuedPolls > 0)
            --m_script.queuedPolls;
        return 2;
    }
    void Drain(std::size_t written, const Deadline &) override
    {
        Note("drain " + std::to_string(written));
        Step(m_script.drainFails);
    }
    void Discard() override { Note("discard"); }
    void GiveBackAndClose() override
    {
        Note("give back");
        m_record.released = m_record.now;
    }

private:
    void Note(const std::string &entry)
    {
        m_record.log += (m_record.log.empty() ? "" : ", ") + entry;
    }
    static void Step(const std::optional<LineFailure> &failure)
    {
        if (failure)
            throw *failure;
    }

    BackendScript m_script;
    Record &m_record;
};

// How one open-write-close cycle of the two-byte frame ended: the message and reason it failed
// with, both empty when it did not.
struct CycleEnd
{
    std::string message;
    FailureReason reason = FailureReason::Other;
};

inline CycleEnd RunCycle(SerialLine &line, std::int16_t port)
{
    constexpr std::array<std::uint8_t, 2> frame {0x07, 0xA0};
    try {
        line.SetPortNumber(port);
        line.SetSettings("2400,N,8,1");
        line.Open();
        line.Write(frame);
        line.Close();
    } catch (const ActionError &error) {
        return {error.message(), error.reason()};
    }
    return {};
}

// A line over the scripted backend, on the record's clock.
inline SerialPortLine ScriptedLine(BackendScript script, ScriptedBackend::Record &record,
    std::optional<std::string> device = std::nullopt)
{
    LineClock clock {[&record] { return record.now; },
        [&record](std::chrono::milliseconds duration) { record.now += duration; }};
    auto backend = std::make_unique<ScriptedBackend>(std::move(script), record);
    return SerialPortLine(std::move(backend),
        device ? std::optional(OneDevice {*device}) : std::nullopt, std::move(clock));
}

} // namespace ostrim::test
