#include "serial/network/com_port_telnet.h"

#include <algorithm>

namespace ostrim {
namespace {

// Telnet's commands and options (RFC 854, 856, 858), and the com port option's (RFC 2217).
enum : std::uint8_t {
    Se = 240,
    Sb = 250,
    Will = 251,
    Wont = 252,
    Do = 253,
    Dont = 254,
    Iac = 255,
};
enum : std::uint8_t { Binary = 0, SuppressGoAhead = 3, ComPortOption = 44 };
enum : std::uint8_t {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
    ServerReply = 100, // the server answers a request with its number plus this
};
constexpr std::uint8_t PurgeTransmit = 2;

void Append(std::vector<std::uint8_t> &out, std::initializer_list<std::uint8_t> bytes)
{
    out.insert(out.end(), bytes);
}

// A value as the server names it back, in the words of a message.
std::string Described(std::uint8_t command, std::uint32_t value)
{
    static constexpr const char *parities[] = {"?", "none", "odd", "even", "mark", "space"};
    static constexpr const char *stopSizes[] = {"?", "1", "2", "1.5"};
    static constexpr const char *controls[] = {"?", "none", "XON/XOFF", "hardware"};
    std::span<const char *const> names;
    if (command == SetParity)
        names = parities;
    else if (command == SetStopSize)
        names = stopSizes;
    else if (command == SetControl)
        names = controls;
    return value >= 1 && value < names.size() ? names[value] : std::to_string(value);
}

} // namespace

ComPortTelnet::ComPortTelnet(ComPortSettings wanted)
    // Flow control first: a server answers in order, so its answer, if it gives one, has come
    // by the time the last required setting is confirmed.
    : m_settings {{SetControl, "flow control", wanted.control, 1, false, {}},
        {SetBaudRate, "baud rate", wanted.baudRate, 4, true, {}},
        {SetDataSize, "data size", wanted.dataSize, 1, true, {}},
        {SetParity, "parity", wanted.parity, 1, true, {}},
        {SetStopSize, "stop size", wanted.stopSize, 1, true, {}}}
{ }

std::vector<std::uint8_t> ComPortTelnet::Opening() const
{
    return {Iac, Will, ComPortOption, Iac, Will, Binary, Iac, Do, Binary};
}

std::vector<std::uint8_t> ComPortTelnet::Receive(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> answer;
    for (const std::uint8_t byte : bytes) {
        if (m_state == State::Failed)
            break;
        Take(byte, answer);
    }
    return answer;
}

void ComPortTelnet::Take(std::uint8_t byte, std::vector<std::uint8_t> &answer)
{
    switch (m_parse) {
    case Parse::Data:
        // The board never answers, so data can only be the server's own words.
        if (byte == Iac)
            m_parse = Parse::Command;
        else if (m_serverText.size() < MaxServerText)
            m_serverText.push_back(static_cast<char>(byte));
        return;
    case Parse::Command:
        m_heardTelnet = true;
        m_parse = Parse::Data;
        if (byte >= Will && byte <= Dont) {
            m_verb = byte;
            m_parse = Parse::Option;
        } else if (byte == Sb) {
            m_sub.clear();
            m_subTooLong = false;
            m_parse = Parse::Sub;
        }
        return;
    case Parse::Option:
        m_parse = Parse::Data;
        Negotiate(m_verb, byte, answer);
        return;
    case Parse::Sub:
        if (byte == Iac)
            m_parse = Parse::SubCommand;
        else
            KeepInSubnegotiation(byte);
        return;
    case Parse::SubCommand:
        if (byte == Iac) { // a doubled 0xFF inside the subnegotiation
            m_parse = Parse::Sub;
            KeepInSubnegotiation(Iac);
            return;
        }
        // SE ends it; any other command ends it too, and is then taken as the command it is.
        Subnegotiation();
        m_parse = Parse::Data;
        if (byte != Se) {
            m_parse = Parse::Command;
            Take(byte, answer);
        }
        return;
    }
}

void ComPortTelnet::KeepInSubnegotiation(std::uint8_t byte)
{
    if (m_sub.size() < MaxSubnegotiation)
        m_sub.push_back(byte);
    else
        m_subTooLong = true;
}

void ComPortTelnet::Negotiate(
    std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &answer)
{
    if (option == ComPortOption && verb == Dont)
        return Fail("refuses the com port option (RFC 2217) that sets the far port's line");
    if (option == Binary && verb == Dont)
        return Fail("refuses binary transmission, which every byte value needs");
    if (verb == Do && option == ComPortOption && !m_comPort) {
        m_comPort = true;
        for (const Setting &setting : m_settings) {
            Append(answer, {Iac, Sb, ComPortOption, setting.command});
            for (std::size_t index = setting.size; index-- > 0;) {
                const auto byte = static_cast<std::uint8_t>(setting.wanted >> (8 * index));
                answer.push_back(byte);
                if (byte == Iac)
                    answer.push_back(Iac);
            }
            Append(answer, {Iac, Se});
        }
    } else if (verb == Do && option == Binary) {
        m_binaryToServer = true;
    } else if (option == SuppressGoAhead && (verb == Do || verb == Will)) {
        // Nothing here waits for a go-ahead; agreeing costs nothing and spares a server that
        // insists on it. Agreed once, so that two servers' habits cannot make a loop.
        if (!m_suppressGoAhead)
            Append(answer, {Iac, verb == Do ? Will : Do, SuppressGoAhead});
        m_suppressGoAhead = true;
    } else if (verb == Do && option != ComPortOption) {
        Append(answer, {Iac, Wont, option});
    } else if (verb == Will && option != Binary) {
        Append(answer, {Iac, Dont, option});
    }
    CheckReady();
}

void ComPortTelnet::Subnegotiation()
{
    if (m_subTooLong || m_sub.size() < 2 || m_sub[0] != ComPortOption)
        return;
    const std::uint8_t command = m_sub[1];
    const auto setting = std::find_if(m_settings.begin(), m_settings.end(),
        [&](const Setting &each) { return each.command + ServerReply == command; });
    if (setting == m_settings.end())
        return; // notifications of line and modem state, and what a client does not ask for
    Confirm(*setting, std::span<const std::uint8_t>(m_sub).subspan(2));
    CheckReady();
}

void ComPortTelnet::Confirm(Setting &setting, std::span<const std::uint8_t> value)
{
    if (value.size() != setting.size)
        return Fail(std::string("answered the ") + setting.name + " with "
            + std::to_string(value.size()) + " bytes instead of " + std::to_string(setting.size));
    std::uint32_t confirmed = 0;
    for (const std::uint8_t byte : value)
        confirmed = confirmed << 8 | byte;
    setting.confirmed = confirmed;
    if (confirmed != setting.wanted)
        Fail(std::string("set the ") + setting.name + " to " + Described(setting.command, confirmed)
            + " instead of " + Described(setting.command, setting.wanted));
}

void ComPortTelnet::Fail(std::string what)
{
    if (m_state == State::Failed)
        return;
    m_state = State::Failed;
    m_failure = std::move(what);
}

void ComPortTelnet::CheckReady()
{
    if (m_state != State::Negotiating || !m_comPort || !m_binaryToServer)
        return;
    if (std::all_of(m_settings.begin(), m_settings.end(),
            [](const Setting &setting) { return !setting.required || setting.confirmed; }))
        m_state = State::Ready;
}

std::string ComPortTelnet::Awaited() const
{
    std::string awaited;
    const auto add
        = [&](const std::string &what) { awaited += (awaited.empty() ? "" : ", ") + what; };
    if (!m_comPort)
        add("the com port option");
    if (!m_binaryToServer)
        add("binary transmission");
    if (m_comPort) {
        for (const Setting &setting : m_settings) {
            if (setting.required && !setting.confirmed)
                add(std::string("the ") + setting.name);
        }
    }
    return awaited;
}

std::vector<std::uint8_t> ComPortTelnet::Data(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> data;
    for (const std::uint8_t byte : bytes) {
        data.push_back(byte);
        if (byte == Iac)
            data.push_back(Iac);
    }
    return data;
}

std::vector<std::uint8_t> ComPortTelnet::PurgeTransmitBuffer() const
{
    if (!m_comPort)
        return {};
    return {Iac, Sb, ComPortOption, PurgeData, PurgeTransmit, Iac, Se};
}

} // namespace ostrim
