#include "serial/network/network_address.h"

#include "runtime/readings.h"

#include <algorithm>
#include <cctype>

namespace ostrim {
namespace {

constexpr std::string_view Separator = "://";
constexpr std::string_view Forms = "rfc2217://HOST:PORT or socket://HOST:PORT";

std::optional<NetworkProtocol> ProtocolOf(std::string_view scheme)
{
    const std::string upper = AsciiUppercase(scheme);
    if (upper == "RFC2217")
        return NetworkProtocol::ComPortControl;
    if (upper == "SOCKET")
        return NetworkProtocol::RawSocket;
    return std::nullopt;
}

// Letters, digits, dots, hyphens and underscores, and any byte of a name in another script (the
// resolver judges those); never a blank, a slash or the parts of a web address.
bool IsNameCharacter(unsigned char c)
{
    return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c >= 0x80;
}

bool IsIpv6Character(unsigned char c)
{
    return std::isxdigit(c) || c == ':' || c == '.';
}

std::optional<std::uint16_t> PortNumber(std::string_view text)
{
    // At most five digits: "000080" is no port number.
    const std::optional<int> number = text.size() <= 5 ? WholeNumber<int>(text) : std::nullopt;
    if (!number || *number < 1 || *number > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(*number);
}

ParsedNetworkAddress Malformed(std::string_view text, const std::string &what)
{
    return {std::nullopt, "'" + std::string(text) + "' " + what};
}

} // namespace

std::string NetworkAddress::Text() const
{
    const std::string scheme
        = protocol == NetworkProtocol::ComPortControl ? "rfc2217://" : "socket://";
    const bool ipv6 = host.find(':') != std::string::npos;
    return scheme + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkAddress(std::string_view text)
{
    return text.find(Separator) != std::string_view::npos;
}

ParsedNetworkAddress ParseNetworkAddress(std::string_view text)
{
    const std::size_t separator = text.find(Separator);
    const std::optional<NetworkProtocol> protocol = ProtocolOf(text.substr(0, separator));
    if (!protocol)
        return Malformed(text, "is not a network line: give " + std::string(Forms));

    std::string_view rest = text.substr(separator + Separator.size());
    std::string_view host;
    bool ipv6 = false;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return Malformed(text, "opens a bracket for an IPv6 address and does not close it");
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        ipv6 = true;
        if (host.find(':') == std::string_view::npos
            || !std::all_of(host.begin(), host.end(), IsIpv6Character))
            return Malformed(text, "has no IPv6 address in its brackets");
    } else {
        const std::size_t colon = rest.rfind(':');
        host = rest.substr(0, colon == std::string_view::npos ? rest.size() : colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon);
        if (host.find(':') != std::string_view::npos)
            return Malformed(text, "has an IPv6 address outside brackets: write it as [::1]");
    }
    if (host.empty())
        return Malformed(text, "names no host: give " + std::string(Forms));
    if (!ipv6 && !std::all_of(host.begin(), host.end(), IsNameCharacter))
        return Malformed(
            text, "has a character that no host name holds: give " + std::string(Forms));
    if (!rest.starts_with(':'))
        return Malformed(text, "names no port: give " + std::string(Forms));
    const std::optional<std::uint16_t> port = PortNumber(rest.substr(1));
    if (!port)
        return Malformed(text, "has no port number from 1 to 65535 after its host");
    return {NetworkAddress {*protocol, std::string(host), *port}, {}};
}

} // namespace ostrim
