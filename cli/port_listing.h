// "--ports": the serial ports of the machine, one a line, for an operator who
// has to find the board's port.
#pragma once

#include <ostream>

#include "platform/serial_port_list.h"

namespace FrontEnd {

// Each port as "path" or "path  USB description"; exit code 0, also when
// there is none (a note then goes to err).
int PrintSerialPorts(std::ostream& out, std::ostream& err,
                     const SerialPortListSp::SerialPortSources& sources = SerialPortListSp::SerialPortSources());

}  // namespace FrontEnd
