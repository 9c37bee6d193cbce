#include "transport/port_name.h"

#include <cctype>

namespace {

struct Scheme {
    const char* prefix;
    PortKind kind;
};
constexpr Scheme NETWORK_SCHEMES[] = {
    {"rfc2217://", PortKind::RFC2217},
    {"socket://", PortKind::RAW_SOCKET},
};
constexpr long MAX_TCP_PORT = 65535;
constexpr size_t MAX_HOST_NAME_LENGTH = 253;

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool IsHostNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
}

bool IsHostName(const std::string& host)
{
    if (host.size() > MAX_HOST_NAME_LENGTH) {
        return false;
    }
    for (char c : host) {
        if (!IsHostNameChar(c)) {
            return false;
        }
    }
    return true;
}

// Hex groups with ':' (an IPv4 tail allowed), then an optional %zone.
bool IsIpv6Address(const std::string& host)
{
    const size_t zone = host.find('%');
    const std::string address = host.substr(0, zone);
    if (address.find(':') == std::string::npos) {
        return false;
    }
    for (char c : address) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0 && c != ':' && c != '.') {
            return false;
        }
    }
    return zone == std::string::npos || (zone + 1 < host.size() && IsHostName(host.substr(zone + 1)));
}

bool ReadTcpPort(const std::string& text, uint16_t& port)
{
    if (text.empty()) {
        return false;
    }
    long value = 0;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > MAX_TCP_PORT) {
            return false;
        }
    }
    if (value == 0) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Host and port of "HOST:PORT" or "[IPv6]:PORT"; empty when well formed,
// otherwise what is wrong.
std::string ReadServer(const std::string& rest, const char* scheme, std::string& host, uint16_t& port)
{
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            return "the IPv6 address has no closing \"]\"";
        }
        host = rest.substr(1, close - 1);
        if (host.empty()) {
            return "no host before the port";
        }
        if (!IsIpv6Address(host)) {
            return "[" + host + "] is not an IPv6 address";
        }
        if (close + 1 >= rest.size() || rest[close + 1] != ':') {
            return std::string("no port after the host (") + scheme + "HOST:PORT)";
        }
        portText = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            return std::string("no port after the host (") + scheme + "HOST:PORT)";
        }
        if (rest.find(':') != colon) {
            return std::string("an IPv6 address must stand in brackets, as in ") + scheme + "[fd00::7]:4001";
        }
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (host.empty()) {
            return "no host before the port";
        }
        if (!IsHostName(host)) {
            return "\"" + host + "\" is not a host name or an IPv4 address";
        }
    }
    if (!ReadTcpPort(portText, port)) {
        return "the port must be a number from 1 to 65535, not \"" + portText + "\"";
    }
    return std::string();
}

}  // namespace

std::string PortName::Server() const
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

PortName ParsePortName(const std::string& text)
{
    PortName name;
    name.text = text;
    for (const Scheme& scheme : NETWORK_SCHEMES) {
        if (StartsWith(text, scheme.prefix)) {
            name.kind = scheme.kind;
            name.problem = ReadServer(text.substr(std::char_traits<char>::length(scheme.prefix)), scheme.prefix,
                                      name.host, name.port);
            if (!name.WellFormed()) {
                name.host.clear();
                name.port = 0;
            }
            break;
        }
    }
    return name;
}

PortName MakeNetworkPortName(PortKind kind, const std::string& host, long port)
{
    const char* scheme = kind == PortKind::RFC2217 ? NETWORK_SCHEMES[0].prefix : NETWORK_SCHEMES[1].prefix;
    const bool ipv6 = host.find(':') != std::string::npos;
    PortName name = ParsePortName(scheme + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port));
    // Parts set one at a time stay as given until they make a whole.
    name.host = host;
    name.port = port >= 0 && port <= MAX_TCP_PORT ? static_cast<uint16_t>(port) : 0;
    return name;
}

std::string MalformedPortNameMessage(const PortName& name)
{
    return "Invalid network port name \"" + name.text + "\": " + name.problem;
}
