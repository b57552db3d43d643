#pragma once

#include "runtime/action_error.h"
#include "serial/line_settings.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace ostrim {

// The line's time, which tests move themselves so that a deadline is checked exactly.
struct LineClock
{
    using Clock = std::chrono::steady_clock;

    std::function<Clock::time_point()> now = Clock::now;
    std::function<void(std::chrono::milliseconds)> pause
        = [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); };
};

// The moment by which a step must be done, on the line's clock: the one clock every backend
// waits by, so that a backend cannot keep a deadline of its own beside the line's.
class Deadline
{
public:
    Deadline(const LineClock &clock, LineClock::Clock::time_point at)
        : m_clock(&clock)
        , m_at(at)
    { }

    LineClock::Clock::time_point At() const { return m_at; }
    // Whole milliseconds, rounded up so that a wait never ends before the deadline; 0 once past.
    std::chrono::milliseconds Left() const
    {
        return std::max(std::chrono::ceil<std::chrono::milliseconds>(m_at - m_clock->now()),
            std::chrono::milliseconds {0});
    }
    bool Passed() const { return m_clock->now() >= m_at; }
    // Sleeps for the duration, or until the deadline if that comes first.
    void Pause(std::chrono::milliseconds duration) const
    {
        m_clock->pause(std::min(duration, Left()));
    }
    const LineClock &Clock() const { return *m_clock; }

private:
    const LineClock *m_clock;
    LineClock::Clock::time_point m_at;
};

// How long a backend's steps may take, declared by the backend and kept by the line: the open
// with the claim and the settings, from the open; the write with the drain, from the write; and
// the whole press, from the open, which neither may pass.
struct LineBudget
{
    std::chrono::milliseconds open;
    std::chrono::milliseconds send;
    std::chrono::milliseconds press;
};

// A local port opens at once or not at all. Two bytes take 8.3 ms at 2400 baud; a frame not out
// 120 times that long after its write is stuck, and is discarded rather than left to reach the
// board later.
inline constexpr LineBudget LocalLineBudget {
    std::chrono::seconds {1}, std::chrono::seconds {1}, std::chrono::seconds {2}};

// "within 1 second", "within 5 seconds": how a message names the time that ran out.
inline std::string WithinText(std::chrono::milliseconds time)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time).count();
    return "within " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

// A step of a line that failed. The line adds the port's name in front, in the form the failure
// asks for, and raises it as the action's failure.
struct LineFailure
{
    enum class Named {
        Port, // "<port name> <what>.", e.g. "Port 3 (COM3) is in use by another program."
        Number, // "<port number or device> <what>", for a port that was not found
        Alone, // what says everything
    };

    std::string what;
    int number = 0; // the system's error number
    FailureReason reason = FailureReason::Other;
    std::string group {}; // see ActionError::group
    Named named = Named::Port;
};

// What a write within a time achieved: the bytes handed over, and whether the time ran out first.
struct WriteOutcome
{
    std::size_t written = 0;
    bool timedOut = false;
};

// The part of a line that only a platform, or a transport, can do. The line calls it in one
// order: Device, Open, Configure, then Write, Queued and Drain, and last GiveBackAndClose, with
// Discard before it when the cycle failed after the open. A step that fails throws a LineFailure;
// Open leaves nothing held when it does. Each step that may wait is handed the line's deadline.
class LineBackend
{
public:
    virtual ~LineBackend() = default;

    virtual LineBudget Budget() const = 0;

    // The device behind port n, or the backend's own name for the device the user named.
    virtual std::string Device(std::int16_t number, const std::optional<std::string> &named) = 0;
    // Claims the device against every other program before the deadline, the settings known:
    // what can be refused before the open is, since opening a real port raises its modem lines,
    // which the board, or the program that holds the port, would notice.
    virtual void Open(
        const std::string &device, const LineSettings &settings, const Deadline &deadline)
        = 0;
    // Keeps the device's own settings for GiveBackAndClose, applies these and reads them back.
    virtual void Configure(const LineSettings &settings, const Deadline &deadline) = 0;
    // All the bytes, or as many as went before the deadline.
    virtual WriteOutcome Write(std::span<const std::uint8_t> bytes, const Deadline &deadline) = 0;
    // Bytes still waiting to leave; nothing where that cannot be known.
    virtual std::optional<std::size_t> Queued() = 0;
    // With the queue empty: waits, up to the deadline, for the last of the bytes written to be
    // on the wire.
    virtual void Drain(std::size_t written, const Deadline &deadline) = 0;
    // Throws away what did not leave. Never fails: it is for a cycle that already has.
    virtual void Discard() = 0;
    // Gives the device back as it was found, and closes it. Never fails.
    virtual void GiveBackAndClose() = 0;
};

} // namespace ostrim
