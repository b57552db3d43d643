#pragma once

#include "cli/command_line.h"
#include "output/set_outputs.h"
#include "serial/serial_line.h"

#include <iosfwd>
#include <vector>

namespace ostrim {

// The action's window on a terminal: the entries come from the command line, and each message
// goes to standard error at once, as "ostrim: <message>" on every line of it.
class TerminalWindow final : public ActionWindow
{
public:
    TerminalWindow(const CommandLine &commandLine, std::ostream &err);

    std::string PortText() const override { return m_commandLine.portText; }
    std::string AddressText() const override { return m_commandLine.addressText; }
    std::int16_t OutputState(int index) const override;
    void ShowMessage(const std::string &text) override;

    int MessageCount() const { return m_messageCount; }

private:
    const CommandLine &m_commandLine;
    std::ostream &m_err;
    int m_messageCount = 0;
};

// Passes every call on to the line and notes what went through, so that success is told by the
// frame having been written and the port closed after it, not by the absence of a message.
class WatchedLine final : public SerialLine
{
public:
    explicit WatchedLine(SerialLine &line)
        : m_line(line)
    { }

    void SetPortNumber(std::int16_t number) override;
    void SetSettings(const std::string &settings) override { m_line.SetSettings(settings); }
    void Open() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void Close() override;
    bool IsOpen() const override { return m_line.IsOpen(); }

    std::int16_t PortNumber() const { return m_portNumber; }
    const std::vector<std::uint8_t> &Written() const { return m_written; }
    bool Sent() const { return m_closedAfterWrite; }

private:
    SerialLine &m_line;
    std::int16_t m_portNumber = 0;
    std::vector<std::uint8_t> m_written;
    bool m_closedAfterWrite = false;
};

} // namespace ostrim
