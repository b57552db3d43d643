#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrim {

// The far port's line as the telnet com port option (RFC 2217) numbers it.
struct ComPortSettings
{
    std::uint32_t baudRate = 2400;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = 1; // 1 none, 2 odd, 3 even, 4 mark, 5 space
    std::uint8_t stopSize = 1; // 1 one, 2 two, 3 one and a half
    std::uint8_t control = 1; // 1 no flow control
};

// The client's side of a telnet connection to a device server, without any I/O: bytes from the
// server in, bytes to send out, and where the negotiation stands. It asks for the com port option
// and binary transmission, then sets the far port's line, and is ready once the server has
// confirmed each setting with the value asked for.
//
// Baud rate, data size, parity and stop size are required: a frame at another speed or shape is
// garbage to the board. Flow control is asked first and not waited for: a far end without modem
// lines may leave it unanswered, and with no flow control nothing waits for those lines; an
// answer naming another flow control fails, since the server would then hold the frame for them.
class ComPortTelnet
{
public:
    enum class State { Negotiating, Ready, Failed };

    // The longest subnegotiation kept; a longer one (none of ours needs more than six bytes) is
    // dropped, so a hostile server cannot make the client hold more than this.
    static constexpr std::size_t MaxSubnegotiation = 64;

    explicit ComPortTelnet(ComPortSettings wanted = {});

    // What the client sends first.
    std::vector<std::uint8_t> Opening() const;
    // Takes what the server sent; returns what the client answers, possibly nothing.
    std::vector<std::uint8_t> Receive(std::span<const std::uint8_t> bytes);

    State state() const { return m_state; }
    // Once failed: what the server did, e.g. "set the baud rate to 9600 instead of 2400".
    const std::string &failure() const { return m_failure; }
    // While negotiating: what is still awaited, for a message when the server goes quiet.
    std::string Awaited() const;
    // Whether the server has sent anything that is telnet, as against plain data.
    bool HeardTelnet() const { return m_heardTelnet; }
    // The data the server sent outside telnet's commands, such as a refusal in words; only the
    // first MaxServerText bytes are kept.
    const std::string &ServerText() const { return m_serverText; }
    static constexpr std::size_t MaxServerText = 256;

    // Data for the far port, each 0xFF doubled as telnet wants.
    static std::vector<std::uint8_t> Data(std::span<const std::uint8_t> bytes);
    // Asks the server to drop what it has not yet sent out of the far port; empty when the server
    // has not taken the com port option, which alone knows the request.
    std::vector<std::uint8_t> PurgeTransmitBuffer() const;

private:
    enum class Parse { Data, Command, Option, Sub, SubCommand };
    struct Setting
    {
        std::uint8_t command;
        const char *name;
        std::uint32_t wanted;
        std::size_t size;
        bool required;
        std::optional<std::uint32_t> confirmed;
    };

    void Take(std::uint8_t byte, std::vector<std::uint8_t> &answer);
    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &answer);
    void KeepInSubnegotiation(std::uint8_t byte);
    void Subnegotiation();
    void Confirm(Setting &setting, std::span<const std::uint8_t> value);
    void Fail(std::string what);
    void CheckReady();

    std::vector<Setting> m_settings;
    State m_state = State::Negotiating;
    std::string m_failure;
    std::string m_serverText;
    Parse m_parse = Parse::Data;
    std::uint8_t m_verb = 0;
    std::vector<std::uint8_t> m_sub;
    bool m_subTooLong = false;
    bool m_heardTelnet = false;
    bool m_comPort = false;
    bool m_binaryToServer = false;
    bool m_suppressGoAhead = false;
};

} // namespace ostrim
