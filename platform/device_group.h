// The group that owns a device node: on Linux, membership in it is what lets a
// user open a serial port.
#pragma once

#include <string>

namespace Platform {

// Name of the group owning path (its number as text when the group has no
// name); empty when path cannot be examined.
std::string DeviceGroupName(const std::string& path);

}  // namespace Platform
