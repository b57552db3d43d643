#pragma once

#include "runtime/action_error.h"
#include "serial/line_settings.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ostrim {

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
// Open leaves nothing held when it does.
class LineBackend
{
public:
    virtual ~LineBackend() = default;

    // The device behind port n, or the backend's own name for the device the user named.
    virtual std::string Device(std::int16_t number, const std::optional<std::string> &named) = 0;
    // Claims the device against every other program within the limit, the settings known: what
    // can be refused before the open is, since opening a real port raises its modem lines, which
    // the board, or the program that holds the port, would notice.
    virtual void Open(
        const std::string &device, const LineSettings &settings, std::chrono::milliseconds limit)
        = 0;
    // Keeps the device's own settings for GiveBackAndClose, applies these and reads them back.
    virtual void Configure(const LineSettings &settings) = 0;
    // All the bytes, or as many as went before the limit ran out.
    virtual WriteOutcome Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit)
        = 0;
    // Bytes still waiting to leave; nothing where that cannot be known.
    virtual std::optional<std::size_t> Queued() = 0;
    // With the queue empty: waits, up to the limit, for the last of the bytes written to be on
    // the wire.
    virtual void Drain(std::size_t written, std::chrono::milliseconds limit) = 0;
    // Throws away what did not leave. Never fails: it is for a cycle that already has.
    virtual void Discard() = 0;
    // Gives the device back as it was found, and closes it. Never fails.
    virtual void GiveBackAndClose() = 0;
};

} // namespace ostrim
