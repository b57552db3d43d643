#include "serial/network/network_address.h"

#include "runtime/readings.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ostrim {
namespace {

constexpr std::string_view Separator = "://";
constexpr std::string_view Forms = "rfc2217://HOST:PORT or socket://HOST:PORT";
constexpr std::string_view ClientFirst = "client-first";

struct Scheme
{
    std::string_view name;
    NetworkProtocol protocol;
};
constexpr std::array<Scheme, 2> schemes {
    {{"rfc2217", NetworkProtocol::ComPortControl}, {"socket", NetworkProtocol::RawSocket}}};

const Scheme *SchemeNamed(std::string_view name)
{
    const std::string upper = AsciiUppercase(name);
    const auto found = std::ranges::find_if(
        schemes, [&](const Scheme &scheme) { return AsciiUppercase(scheme.name) == upper; });
    return found != schemes.end() ? &*found : nullptr;
}

// A scheme's name and a colon without the slashes: "rfc2217:board:2217".
const Scheme *SchemeWithoutSlashes(std::string_view text)
{
    const std::size_t colon = text.find(':');
    return colon == std::string_view::npos ? nullptr : SchemeNamed(text.substr(0, colon));
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

std::string GiveForms()
{
    return "give " + std::string(Forms);
}

// The host and port part, "HOST:PORT" or "[IPv6]:PORT", into the address; the error otherwise.
std::optional<std::string> ReadHostAndPort(std::string_view rest, NetworkAddress &address)
{
    std::string_view host;
    bool ipv6 = false;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return "opens a bracket for an IPv6 address and does not close it";
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        ipv6 = true;
        if (const std::size_t zone = host.find('%'); zone != std::string_view::npos) {
            return "has a zone ('" + std::string(host.substr(zone))
                + "'): link-local addresses are not supported; give the server's name or "
                  "another of its addresses";
        }
        if (host.find(':') == std::string_view::npos
            || !std::all_of(host.begin(), host.end(), IsIpv6Character))
            return "has no IPv6 address in its brackets";
    } else {
        const std::size_t colon = rest.rfind(':');
        host = rest.substr(0, colon == std::string_view::npos ? rest.size() : colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon);
        if (host.find(':') != std::string_view::npos)
            return "has an IPv6 address outside brackets: write it as [::1]";
    }
    if (host.empty())
        return "names no host: " + GiveForms();
    if (!ipv6 && !std::all_of(host.begin(), host.end(), IsNameCharacter))
        return "has a character that no host name holds: " + GiveForms();
    if (!rest.starts_with(':'))
        return "names no port: " + GiveForms();
    const std::optional<std::uint16_t> port = PortNumber(rest.substr(1));
    if (!port)
        return "has no port number from 1 to 65535 after its host";
    address.host = std::string(host);
    address.port = *port;
    return std::nullopt;
}

// "?client-first", the one option, and only where it means something.
std::optional<std::string> ReadOption(std::string_view query, NetworkAddress &address)
{
    if (query != ClientFirst) {
        return "has an option that is not known ('?" + std::string(query)
            + "'): the only one is ?client-first, for rfc2217://";
    }
    if (address.protocol != NetworkProtocol::ComPortControl)
        return "has ?client-first, which only rfc2217:// takes: socket:// never negotiates";
    address.clientFirst = true;
    return std::nullopt;
}

} // namespace

std::string NetworkAddress::Text() const
{
    const std::string scheme
        = protocol == NetworkProtocol::ComPortControl ? "rfc2217://" : "socket://";
    const bool ipv6 = host.find(':') != std::string::npos;
    return scheme + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port)
        + (clientFirst ? "?" + std::string(ClientFirst) : "");
}

bool IsNetworkAddress(std::string_view text)
{
    return text.find(Separator) != std::string_view::npos || SchemeWithoutSlashes(text);
}

ParsedNetworkAddress ParseNetworkAddress(std::string_view text)
{
    const std::size_t separator = text.find(Separator);
    if (separator == std::string_view::npos) {
        const Scheme *scheme = SchemeWithoutSlashes(text);
        std::string_view rest = text.substr(text.find(':') + 1);
        while (rest.starts_with('/'))
            rest.remove_prefix(1);
        return Malformed(text,
            "lacks the // after '" + std::string(scheme ? scheme->name : "") + ":': write "
                + std::string(scheme ? scheme->name : "") + "://" + std::string(rest));
    }
    const Scheme *scheme = SchemeNamed(text.substr(0, separator));
    if (!scheme)
        return Malformed(text, "is not a network line: " + GiveForms());

    std::string_view rest = text.substr(separator + Separator.size());
    const std::size_t query = rest.find('?');
    const std::string_view option
        = query == std::string_view::npos ? std::string_view() : rest.substr(query + 1);
    rest = rest.substr(0, query);
    if (const std::size_t at = rest.find('@'); at != std::string_view::npos) {
        return Malformed(text,
            "names a user ('" + std::string(rest.substr(0, at + 1))
                + "'), which a device server does not take: " + GiveForms());
    }
    if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
        return Malformed(text,
            "has a path ('" + std::string(rest.substr(slash))
                + "') after its port, which a device server does not take: " + GiveForms());
    }
    NetworkAddress address {scheme->protocol, {}, 0};
    std::optional<std::string> error = ReadHostAndPort(rest, address);
    if (!error && query != std::string_view::npos)
        error = ReadOption(option, address);
    if (error)
        return Malformed(text, *error);
    return {address, {}};
}

} // namespace ostrim
