#pragma once

#include "serial/line_backend.h"
#include "serial/line_settings.h"
#include "serial/serial_line.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace ostrim {

// The open-write-close cycle and every rule of it, over the backend that reaches the port: the
// backend's budget kept on one clock, a deadline for the open and one from the write for the
// write and the drain together, neither past the press's own; whatever did not leave in time is
// discarded; the port is given back as it was found whatever happened, and discarded first
// when anything failed.
class SerialPortLine final : public SerialLine
{
public:
    using Clock = LineClock::Clock;

    // With a device, a line on that one device whatever port number it is given; its messages
    // name the device alone, since it has no number in the port list.
    explicit SerialPortLine(std::unique_ptr<LineBackend> backend,
        std::optional<OneDevice> device = std::nullopt, LineClock clock = {});
    ~SerialPortLine() override;
    SerialPortLine(SerialPortLine &&) = default;
    SerialPortLine &operator=(SerialPortLine &&) = delete;

    void SetPortNumber(std::int16_t number) override;
    void SetSettings(const std::string &settings) override;
    void Open() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    bool IsOpen() const override { return m_open; }
    std::string Device() const override { return m_device; }

private:
    std::string PortName() const;
    Deadline DeadlineIn(std::chrono::milliseconds time) const;
    std::chrono::milliseconds TimeLeft() const;
    [[noreturn]] void AbandonAsNotSentInTime();
    void DrainBeforeDeadline();
    void Abandon();
    [[noreturn]] void Raise(const LineFailure &failure) const;
    [[noreturn]] void AbandonAndRaise(const LineFailure &failure);
    template<typename Step>
    auto AbandonOnFailure(Step &&step);

    std::unique_ptr<LineBackend> m_backend;
    LineClock m_clock;
    std::optional<std::string> m_oneDevice; // as the user named it
    std::int16_t m_portNumber = 1;
    LineSettings m_settings;
    LineBudget m_budget;
    std::string m_device;
    bool m_open = false;
    Clock::time_point m_pressEnds; // from the open on, for every step
    Clock::time_point m_sendDeadline; // from the write on, for write and drain together
    std::size_t m_written = 0;
};

} // namespace ostrim
