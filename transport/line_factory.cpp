#include "transport/line_factory.h"

#include <cerrno>
#include <cstdlib>
#include <new>

#include "common/console.h"
#include "transport/raw_socket_line.h"
#include "transport/rfc2217_line.h"
#include "transport/serport_transport.h"

namespace {

struct Scheme {
    const char* prefix;
    LineKind kind;
};
constexpr Scheme NETWORK_SCHEMES[] = {
    {"rfc2217://", LineKind::RFC2217},
    {"socket://", LineKind::RAW_SOCKET},
};
constexpr unsigned long MAX_TCP_PORT = 65535;

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// "HOST:PORT", "[IPv6]:PORT"; the host may be a name.
bool SplitHostPort(const std::string& rest, std::string& host, std::string& port)
{
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return false;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
        return !host.empty();
    }
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos || rest.find(':') != colon) {
        return false;  // none, or an IPv6 address without brackets
    }
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    return !host.empty() && host.find('/') == std::string::npos;
}

bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value == 0 || value > MAX_TCP_PORT) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool ParseLineAddress(const std::string& portName, LineAddress& address, std::string& error)
{
    address = LineAddress();
    for (const Scheme& scheme : NETWORK_SCHEMES) {
        if (!StartsWith(portName, scheme.prefix)) {
            continue;
        }
        std::string rest = portName.substr(std::char_traits<char>::length(scheme.prefix));
        std::string portText;
        if (!SplitHostPort(rest, address.host, portText) || !ParsePort(portText, address.port)) {
            error = "invalid network port name " + portName + " (expected " + scheme.prefix +
                    "HOST:PORT, an IPv6 host in brackets, a TCP port from 1 to 65535)";
            return false;
        }
        address.kind = scheme.kind;
        return true;
    }
    return true;
}

std::unique_ptr<TransportTypeBase> NewLine(const std::string& portName)
{
    LineAddress address;
    std::string error;
    if (!ParseLineAddress(portName, address, error)) {
        Common::PrintInfo(0, Common::NORMAL_INFO, "error: %s.\n", error.c_str());
        return nullptr;
    }
    std::unique_ptr<TransportTypeBase> line;
    std::unique_ptr<LineDevice> device;
    switch (address.kind) {
        case LineKind::SERIAL:
            line.reset(new (std::nothrow) SerportTransport());
            break;
        case LineKind::RFC2217:
            device.reset(new (std::nothrow) Rfc2217Line());
            break;
        case LineKind::RAW_SOCKET:
            device.reset(new (std::nothrow) RawSocketLine());
            break;
    }
    if (device) {
        line.reset(new (std::nothrow) LineTransport(std::move(device)));
    }
    if (!line) {
        Common::Print("new serport transport failed\n");
    }
    return line;
}
