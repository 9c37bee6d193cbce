// The hint that follows the open-failure lines when the port refused the
// user: on Linux the user must be in the group that owns the device, on
// Windows another program holds the port.
#pragma once

#include <string>

namespace Platform {

// The hint line for a port that failed to open with errno error; empty unless
// the error says the port was refused.
std::string PortAccessHint(const std::string& port, int error);

}  // namespace Platform
