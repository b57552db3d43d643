#pragma once

#include "serial/line_settings.h"
#include "serial/serial_line.h"
#include "serial/system_ports.h"

#include <chrono>
#include <functional>
#include <optional>

#include <QSerialPort>

namespace ostrim {

// Bytes still waiting in the system's output queue of an open port; -1 when it cannot be told.
using PendingOutput = std::function<int(int handle)>;
int SystemPendingOutput(int handle);

// A serial line on QSerialPort. Port n is the n-th entry of the port list, which is read afresh
// at every open because adapters come and go.
class QtSerialLine final : public SerialLine
{
public:
    // Two bytes take 8.3 ms at 2400 baud; a frame not out after 120 times that is stuck.
    static constexpr std::chrono::milliseconds SendTimeout {1000};

    explicit QtSerialLine(
        PortList ports = SystemPortList {}, PendingOutput pendingOutput = SystemPendingOutput);
    ~QtSerialLine() override;

    void SetPortNumber(std::int16_t number) override;
    void SetSettings(const std::string &settings) override;
    void Open() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    bool IsOpen() const override;

private:
    using Clock = std::chrono::steady_clock;

    std::string PortName() const;
    [[noreturn]] void Fail(const std::string &what, int number = 0) const;
    [[noreturn]] void FailToOpen();
    [[noreturn]] void FailToWrite();
    [[noreturn]] void FailTimedOut() const;
    void ApplySettings();
    bool DrainUntil(Clock::time_point deadline, int &systemError);
    void DiscardAndClose();

    PortList m_ports;
    PendingOutput m_pendingOutput;
    std::int16_t m_portNumber = 1;
    LineSettings m_settings;
    std::string m_device;
    QSerialPort m_port;
    std::optional<Clock::time_point> m_sendDeadline; // from the write on, for write and drain
    bool m_writeFailed = false;
};

} // namespace ostrim
