#pragma once

#include "output/output_command.h"
#include "output/set_outputs.h"
#include "serial/system_ports.h"

#include <string>
#include <utility>
#include <vector>

#include <QStringList>

// The window side as a plain holder of entries, for driving the action without widgets; the real
// window has tests of its own.
class EntriesWindow final : public ostrim::ActionWindow
{
public:
    EntriesWindow(std::string port, std::string address, ostrim::OutputStates states)
        : m_port(std::move(port))
        , m_address(std::move(address))
        , m_states(states)
    { }

    std::string PortText() const override { return m_port; }
    std::string AddressText() const override { return m_address; }
    std::int16_t OutputState(int index) const override
    {
        return m_states.at(static_cast<std::size_t>(index));
    }
    void ShowMessage(const std::string &text) override { messages << QString::fromStdString(text); }

    QStringList messages;

private:
    std::string m_port;
    std::string m_address;
    ostrim::OutputStates m_states;
};

// A machine whose serial ports are exactly these devices, pseudo-terminals in the tests: no test
// may reach a real port, and on some machines port 1 is the console.
inline ostrim::PortList PortsAre(std::vector<std::string> devices)
{
    return [devices = std::move(devices)] { return devices; };
}
