#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrim {

// rfc2217:// sets the far port's line before sending; socket:// sends to a port the server has
// already set up.
enum class NetworkProtocol { ComPortControl, RawSocket };

// A serial line behind a device server, as the user names it: rfc2217://HOST:PORT or
// socket://HOST:PORT, HOST a name, an IPv4 address or an IPv6 address in brackets.
struct NetworkAddress
{
    NetworkProtocol protocol = NetworkProtocol::ComPortControl;
    std::string host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
    // rfc2217:// only: the server waits for the client's negotiation instead of opening it.
    bool clientFirst = false;

    // As the user would type it again, e.g. "rfc2217://[::1]:2217".
    std::string Text() const;
};

// What a --device value is read as: no address (an ordinary device), an address, or an address
// so malformed that the message says what is wrong with it.
struct ParsedNetworkAddress
{
    std::optional<NetworkAddress> address;
    std::string error;
};

// Anything with "://" in it, or that begins with a scheme's name and a colon, is meant as a
// network address, and is either one or an error: a device path never holds it, and a mistyped
// address must not be opened as a file.
bool IsNetworkAddress(std::string_view text);
ParsedNetworkAddress ParseNetworkAddress(std::string_view text);

} // namespace ostrim
