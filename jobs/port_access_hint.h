// The hint that follows the open-failure lines when the port refused the user.
#pragma once

#include <string>

#include "platform/port_access_hint.h"

namespace Jobs {

using Platform::PortAccessHint;

// Prints the hint for the last failed OpenSerialPort of the device library, if any.
void PrintPortAccessHint(const std::string& port);

}  // namespace Jobs
