// The one place where a port name becomes a line: a device path or COM name
// is a local serial port, rfc2217://HOST:PORT and socket://HOST:PORT are
// TCP connections to a serial server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/transport_type_base.h"

enum class LineKind { SERIAL, RFC2217, RAW_SOCKET };

struct LineAddress {
    LineKind kind = LineKind::SERIAL;
    std::string host;  // network lines: name, IPv4 or IPv6 (without brackets)
    uint16_t port = 0;
};

// False with a reason when the name claims a network scheme but is malformed.
bool ParseLineAddress(const std::string& portName, LineAddress& address, std::string& error);

// A closed line of the kind the name selects; null (with a message printed)
// when the name is malformed.
std::unique_ptr<TransportTypeBase> NewLine(const std::string& portName);
