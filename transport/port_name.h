// What a port name names, read once: a device path or COM name, or a serial
// server's TCP port (rfc2217://HOST:PORT, socket://HOST:PORT). The settings,
// the line factory and the server connection all work from this one value.
#pragma once

#include <cstdint>
#include <string>

enum class PortKind { DEVICE, RFC2217, RAW_SOCKET };

struct PortName {
    PortKind kind = PortKind::DEVICE;
    std::string text;     // as given; built from the parts for a name made from them
    std::string host;     // network names: a host name, IPv4, or IPv6 without brackets
    uint16_t port = 0;    // network names: 1 to 65535
    std::string problem;  // why a network name is malformed; empty when it is well formed

    bool IsNetwork() const { return kind != PortKind::DEVICE; }
    bool WellFormed() const { return problem.empty(); }
    // HOST:PORT as a person writes it, an IPv6 host in brackets.
    std::string Server() const;
};

// Device paths and COM names are taken as they stand (the open judges them);
// a name with a network scheme is checked for its form: host, brackets
// around an IPv6 address, a port number from 1 to 65535.
PortName ParsePortName(const std::string& text);

// The network name of that kind for host and port, checked as a parsed one.
PortName MakeNetworkPortName(PortKind kind, const std::string& host, long port);

// The refusal of a malformed network name, naming it (without "error: ").
std::string MalformedPortNameMessage(const PortName& name);
