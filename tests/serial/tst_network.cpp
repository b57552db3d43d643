#include "hex_text.h"
#include "serial/network/com_port_telnet.h"
#include "serial/network/network_address.h"

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <doctest.h>

using namespace ostrim;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view hex)
{
    std::vector<std::uint8_t> bytes;
    std::istringstream in {std::string(hex)};
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

std::string Parsed(std::string_view text)
{
    const ParsedNetworkAddress parsed = ParseNetworkAddress(text);
    if (!parsed.address)
        return "error: " + parsed.error;
    return parsed.address->Text();
}

// A server's agreement to the option and to binary, and its confirmation of each setting.
constexpr std::string_view Agrees = "FF FD 2C FF FD 00 ";
constexpr std::string_view Control = "FF FA 2C 69 01 FF F0 ";
constexpr std::string_view Required = "FF FA 2C 65 00 00 09 60 FF F0 FF FA 2C 66 08 FF F0 "
                                      "FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0";

std::string Outcome(const ComPortTelnet &telnet)
{
    switch (telnet.state()) {
    case ComPortTelnet::State::Ready:
        return "ready";
    case ComPortTelnet::State::Failed:
        return "failed: " + telnet.failure();
    case ComPortTelnet::State::Negotiating:
        break;
    }
    return "awaiting " + telnet.Awaited();
}

// Bytes enough to pass the cap on kept subnegotiations.
const std::string LongTail = [] {
    std::string text;
    for (std::size_t index = 0; index < ComPortTelnet::MaxSubnegotiation; ++index)
        text += " 41";
    return text;
}();

} // namespace

TEST_CASE("A network address is a scheme, a host and a port, or a message that says what is wrong")
{
    struct Row
    {
        std::string_view text;
        std::string_view outcome;
    };
    const Row rows[] {
        {"rfc2217://127.0.0.1:2217", "rfc2217://127.0.0.1:2217"},
        {"RFC2217://board-7.plant.example:4001", "rfc2217://board-7.plant.example:4001"},
        {"socket://[::1]:7000", "socket://[::1]:7000"},
        {"socket://[fe80::1%lo]:7000",
            "error: 'socket://[fe80::1%lo]:7000' has a zone ('%lo'): link-local addresses are not "
            "supported; give the server's name or another of its addresses"},
        {"rfc2217://board:2217?client-first", "rfc2217://board:2217?client-first"},
        {"socket://board:2217?client-first",
            "error: 'socket://board:2217?client-first' has ?client-first, which only rfc2217:// "
            "takes: socket:// never negotiates"},
        {"rfc2217://board:2217?baud=9600",
            "error: 'rfc2217://board:2217?baud=9600' has an option that is not known "
            "('?baud=9600'): the only one is ?client-first, for rfc2217://"},
        {"rfc2217:board:2217",
            "error: 'rfc2217:board:2217' lacks the // after 'rfc2217:': write "
            "rfc2217://board:2217"},
        {"Socket:/board:4001",
            "error: 'Socket:/board:4001' lacks the // after 'socket:': write "
            "socket://board:4001"},
        {"rfc2217://::1:2217",
            "error: 'rfc2217://::1:2217' has an IPv6 address outside "
            "brackets: write it as [::1]"},
        {"rfc2217://[::1:2217",
            "error: 'rfc2217://[::1:2217' opens a bracket for an IPv6 "
            "address and does not close it"},
        {"rfc2217://board",
            "error: 'rfc2217://board' names no port: give rfc2217://HOST:PORT or "
            "socket://HOST:PORT"},
        {"rfc2217://:2217",
            "error: 'rfc2217://:2217' names no host: give rfc2217://HOST:PORT or "
            "socket://HOST:PORT"},
        {"rfc2217://board:0",
            "error: 'rfc2217://board:0' has no port number from 1 to 65535 "
            "after its host"},
        {"rfc2217://board:65536",
            "error: 'rfc2217://board:65536' has no port number from 1 to "
            "65535 after its host"},
        {"rfc2217://board:22x",
            "error: 'rfc2217://board:22x' has no port number from 1 to 65535 "
            "after its host"},
        {"rfc2217://board:2217/",
            "error: 'rfc2217://board:2217/' has a path ('/') after its port, which a device "
            "server does not take: give rfc2217://HOST:PORT or socket://HOST:PORT"},
        {"rfc2217://board:2217/port1?client-first",
            "error: 'rfc2217://board:2217/port1?client-first' has a path ('/port1') after its "
            "port, which a device server does not take: give rfc2217://HOST:PORT or "
            "socket://HOST:PORT"},
        {"rfc2217://user@board:2217",
            "error: 'rfc2217://user@board:2217' names a user ('user@'), which a device server "
            "does not take: give rfc2217://HOST:PORT or socket://HOST:PORT"},
        {"rfc2217://board :2217",
            "error: 'rfc2217://board :2217' has a character that no host name holds: give "
            "rfc2217://HOST:PORT or socket://HOST:PORT"},
        {"telnet://board:23",
            "error: 'telnet://board:23' is not a network line: give "
            "rfc2217://HOST:PORT or socket://HOST:PORT"},
    };
    for (const Row &row : rows) {
        INFO(row.text);
        CHECK(IsNetworkAddress(row.text));
        CHECK(Parsed(row.text) == row.outcome);
    }
    CHECK_FALSE(IsNetworkAddress("/dev/serial/by-id/usb-FTDI-if00-port0"));
    CHECK_FALSE(IsNetworkAddress("COM3"));
}

TEST_CASE("The com port negotiation is ready only on every required setting confirmed as asked")
{
    struct Row
    {
        std::string_view name;
        std::string server;
        std::string_view outcome;
    };
    const Row rows[] {
        {"all confirmed", std::string(Agrees) + std::string(Control) + std::string(Required),
            "ready"},
        {"flow control left unanswered: ready", std::string(Agrees) + std::string(Required),
            "ready"},
        {"flow control answered as hardware", std::string(Agrees) + "FF FA 2C 69 03 FF F0",
            "failed: set the flow control to hardware instead of none"},
        {"the option refused", "FF FE 2C",
            "failed: refuses the com port option (RFC 2217) that sets the far port's line"},
        {"binary refused", "FF FD 2C FF FE 00",
            "failed: refuses binary transmission, which every byte value needs"},
        {"9600 confirmed instead", std::string(Agrees) + "FF FA 2C 65 00 00 25 80 FF F0",
            "failed: set the baud rate to 9600 instead of 2400"},
        {"even parity confirmed instead", std::string(Agrees) + "FF FA 2C 67 03 FF F0",
            "failed: set the parity to even instead of none"},
        {"a baud rate in two bytes", std::string(Agrees) + "FF FA 2C 65 09 60 FF F0",
            "failed: answered the baud rate with 2 bytes instead of 4"},
        {"settings confirmed before the option is agreed count once it is",
            std::string(Required) + " " + std::string(Agrees), "ready"},
        {"binary never agreed", "FF FD 2C " + std::string(Required),
            "awaiting binary transmission"},
        {"nothing but data", "48 45 4C 4C 4F 0D 0A",
            "awaiting the com port option, binary transmission"},
        {"a subnegotiation longer than the cap is dropped unread",
            std::string(Agrees) + "FF FA 2C 65 00 00 09 60" + LongTail + " FF F0",
            "awaiting the baud rate, the data size, the parity, the stop size"},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        ComPortTelnet whole;
        whole.Receive(Bytes(row.server));
        CHECK(Outcome(whole) == row.outcome);
        // A server's bytes may come in any pieces, down to one at a time.
        ComPortTelnet piecewise;
        for (const std::uint8_t byte : Bytes(row.server))
            piecewise.Receive(std::span(&byte, 1));
        CHECK(Outcome(piecewise) == row.outcome);
    }
}

TEST_CASE("What the client says: the opening, the settings once agreed, refusals, data and purge")
{
    ComPortSettings wanted;
    wanted.baudRate = 0x1FF; // a byte 0xFF in a setting is doubled as in data
    ComPortTelnet telnet(wanted);
    CHECK(HexText(telnet.Opening()) == "FF FB 2C FF FB 00 FF FD 00");
    CHECK(HexText(telnet.PurgeTransmitBuffer()).empty());
    CHECK(HexText(telnet.Receive(Bytes("FF FB 01 FF FD 18 FF FB 03")))
        == "FF FE 01 FF FC 18 FF FD 03");
    CHECK(HexText(telnet.Receive(Bytes("FF FD 2C")))
        == "FF FA 2C 05 01 FF F0 FF FA 2C 01 00 00 01 FF FF FF F0 "
           "FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0");
    CHECK(HexText(telnet.Receive(Bytes("FF FD 2C FF FD 03"))).empty());
    telnet.Receive(Bytes("FF FD 00 FF FA 2C 65 00 00 01 FF FF FF F0 FF FA 2C 66 08 FF F0 FF FA 2C "
                         "67 01 FF F0 FF FA 2C 68 01 FF F0"));
    CHECK(Outcome(telnet) == "ready");
    CHECK(HexText(telnet.PurgeTransmitBuffer()) == "FF FA 2C 0C 02 FF F0");
    const std::uint8_t frame[] {0xFF, 0xF0};
    CHECK(HexText(ComPortTelnet::Data(frame)) == "FF FF F0");
}
