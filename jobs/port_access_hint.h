// The hint that follows the open-failure lines when the user may not open the
// port: on Linux the user must be in the group that owns the device.
#pragma once

#include <string>

namespace Jobs {

// The hint line for a port that failed to open with errno error; empty unless
// the error is a denied permission.
std::string PortAccessHint(const std::string& port, int error);

// Prints the hint for the last failed OpenSerialPort of the device library, if any.
void PrintPortAccessHint(const std::string& port);

}  // namespace Jobs
