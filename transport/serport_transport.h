// The serial-port transport: the receive engine over a local serial port.
#pragma once

#include "transport/line_transport.h"

class SerportTransport : public LineTransport {
public:
    SerportTransport();
};
