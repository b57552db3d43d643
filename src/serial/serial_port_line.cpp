#include "serial/serial_port_line.h"

#include <algorithm>
#include <utility>

namespace ostrim {

using namespace std::chrono_literals;

namespace {

// The failures the line finds itself come with no number of the system's.
constexpr int ownNumber = static_cast<int>(FailureKind::SerialLine);

} // namespace

// A step after the open: on a failure, whatever did not leave is discarded and the port given
// back before the failure is raised.
template<typename Step>
auto SerialPortLine::AbandonOnFailure(Step &&step)
{
    try {
        return step();
    } catch (const LineFailure &failure) {
        AbandonAndRaise(failure);
    }
}

SerialPortLine::SerialPortLine(
    std::unique_ptr<LineBackend> backend, std::optional<OneDevice> device, LineClock clock)
    : m_backend(std::move(backend))
    , m_clock(std::move(clock))
    , m_budget(m_backend->Budget())
{
    if (device)
        m_oneDevice = std::move(device->path);
}

SerialPortLine::~SerialPortLine()
{
    if (m_backend && IsOpen()) // a line moved from holds no backend
        Abandon();
}

void SerialPortLine::SetPortNumber(std::int16_t number)
{
    if (number < 1) {
        Raise({"Invalid port number " + std::to_string(number) + ": ports are numbered from 1",
            ownNumber, FailureReason::Other, {}, LineFailure::Named::Alone});
    }
    if (IsOpen())
        Raise({"is open, so its number cannot change until it is closed", ownNumber});
    m_portNumber = number;
}

void SerialPortLine::SetSettings(const std::string &settings)
{
    const LineSettings parsed = ParseLineSettings(settings);
    if (IsOpen())
        Raise({"is open, so its line settings cannot change until it is closed", ownNumber});
    m_settings = parsed;
}

void SerialPortLine::Open()
{
    if (IsOpen())
        Raise({"is already open", ownNumber});
    m_pressEnds = m_clock.now() + m_budget.press;
    const Deadline opened = DeadlineIn(m_budget.open);
    try {
        m_device = m_backend->Device(m_portNumber, m_oneDevice);
        m_backend->Open(m_device, m_settings, opened);
    } catch (const LineFailure &failure) {
        Raise(failure);
    }
    m_open = true;
    m_written = 0;
    AbandonOnFailure([&] { m_backend->Configure(m_settings, opened); });
    m_sendDeadline = DeadlineIn(m_budget.send).At(); // for a close that follows no write
}

// A deadline that far from now, or the press's own if that comes first.
Deadline SerialPortLine::DeadlineIn(std::chrono::milliseconds time) const
{
    return {m_clock, std::min(m_clock.now() + time, m_pressEnds)};
}

void SerialPortLine::Write(std::span<const std::uint8_t> bytes)
{
    if (!IsOpen())
        Raise({"is not open", ownNumber});
    const Deadline sent = DeadlineIn(m_budget.send);
    m_sendDeadline = sent.At();
    const WriteOutcome outcome = AbandonOnFailure([&] { return m_backend->Write(bytes, sent); });
    m_written += outcome.written;
    if (outcome.timedOut)
        AbandonAsNotSentInTime();
}

// A frame is given up at the deadline by the line's own clock, never before.
void SerialPortLine::AbandonAsNotSentInTime()
{
    for (auto left = TimeLeft(); left > 0ms; left = TimeLeft())
        m_clock.pause(left);
    AbandonAndRaise(
        {"did not send the frame " + WithinText(m_budget.send) + ", so it was discarded", ownNumber,
            FailureReason::Timeout});
}

void SerialPortLine::Close()
{
    if (!IsOpen())
        return;
    DrainBeforeDeadline();
    m_backend->GiveBackAndClose();
    m_open = false;
}

// The queue is watched up to the deadline rather than waited for with no limit: a port whose
// queue does not empty must not hold the user for ever.
void SerialPortLine::DrainBeforeDeadline()
{
    for (;;) {
        const std::optional<std::size_t> queued
            = AbandonOnFailure([&] { return m_backend->Queued(); });
        if (!queued || *queued == 0)
            break;
        if (TimeLeft() <= 0ms)
            AbandonAsNotSentInTime();
        m_clock.pause(1ms);
    }
    AbandonOnFailure([&] { m_backend->Drain(m_written, Deadline {m_clock, m_sendDeadline}); });
}

std::chrono::milliseconds SerialPortLine::TimeLeft() const
{
    return std::chrono::ceil<std::chrono::milliseconds>(m_sendDeadline - m_clock.now());
}

// Whatever did not leave is thrown away first, so that it cannot reach the board later, long
// after the user was told it was not sent.
void SerialPortLine::Abandon()
{
    m_backend->Discard();
    m_backend->GiveBackAndClose();
    m_open = false;
}

void SerialPortLine::AbandonAndRaise(const LineFailure &failure)
{
    Abandon();
    Raise(failure);
}

std::string SerialPortLine::PortName() const
{
    if (m_oneDevice)
        return m_device.empty() ? *m_oneDevice : m_device;
    const std::string number = "Port " + std::to_string(m_portNumber);
    return m_device.empty() ? number : number + " (" + m_device + ")";
}

// Every failure of the line is raised here: what went wrong in words, the reason for the face to
// choose its advice by, and the system's error number.
void SerialPortLine::Raise(const LineFailure &failure) const
{
    std::string message;
    switch (failure.named) {
    case LineFailure::Named::Port:
        message = PortName() + " " + failure.what + ".";
        break;
    case LineFailure::Named::Number:
        message = (m_oneDevice ? PortName() : "Port " + std::to_string(m_portNumber)) + " "
            + failure.what;
        break;
    case LineFailure::Named::Alone:
        message = failure.what;
        break;
    }
    throw ActionError(
        FailureKind::SerialLine, failure.number, message, failure.reason, failure.group);
}

} // namespace ostrim
