// The one place where a port name becomes a line: a device path or COM name
// is a local serial port, rfc2217://HOST:PORT and socket://HOST:PORT are
// TCP connections to a serial server.
#pragma once

#include <memory>

#include "transport/port_name.h"
#include "transport/transport_type_base.h"

// A closed line of the kind the name selects; null (with a message printed)
// when the name is a malformed network name.
std::unique_ptr<TransportTypeBase> NewLine(const PortName& name);
