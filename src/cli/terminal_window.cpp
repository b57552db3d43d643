#include "cli/terminal_window.h"

#include <ostream>
#include <sstream>

namespace ostrim {

TerminalWindow::TerminalWindow(const CommandLine &commandLine, std::ostream &err)
    : m_commandLine(commandLine)
    , m_err(err)
{ }

std::int16_t TerminalWindow::OutputState(int index) const
{
    return m_commandLine.outputs.at(static_cast<std::size_t>(index));
}

void TerminalWindow::ShowMessage(const std::string &text)
{
    ++m_messageCount;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        m_err << "ostrim: " << line << '\n';
    m_err << std::flush;
}

void WatchedLine::SetPortNumber(std::int16_t number)
{
    m_line.SetPortNumber(number);
    m_portNumber = number;
}

// A fresh open starts a fresh send: nothing of an earlier one counts.
void WatchedLine::Open()
{
    m_written.clear();
    m_closedAfterWrite = false;
    m_line.Open();
}

void WatchedLine::Write(std::span<const std::uint8_t> bytes)
{
    m_line.Write(bytes);
    m_written.insert(m_written.end(), bytes.begin(), bytes.end());
}

void WatchedLine::Close()
{
    m_line.Close();
    m_closedAfterWrite = !m_written.empty();
}

} // namespace ostrim
