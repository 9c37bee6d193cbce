#include "jobs/port_access_hint.h"

#include <cerrno>
#include <cstdio>

#include "device/device_library.h"
#include "platform/device_group.h"

namespace Jobs {

namespace {

const char* const USUAL_GROUP = "dialout";

}  // namespace

std::string PortAccessHint(const std::string& port, int error)
{
    if (error != EACCES && error != EPERM) {
        return "";
    }
    const std::string group = Platform::DeviceGroupName(port);
    const std::string start = "hint: permission denied on " + port + ": ";
    if (group.empty()) {
        return start + "on Linux the user must be in the group that owns the device, usually " + USUAL_GROUP +
               " (sudo usermod -aG " + USUAL_GROUP + " $USER, then log in again).\n";
    }
    if (group == "root") {
        // Joining root's group is no answer; the device needs a group of its own.
        return start + "it belongs to group root; a udev rule must give it to a group such as " + USUAL_GROUP +
               ", and the user must be in that group.\n";
    }
    return start + "on Linux the user must be in group " + group + ", which owns the device (sudo usermod -aG " +
           group + " $USER, then log in again).\n";
}

void PrintPortAccessHint(const std::string& port)
{
    const std::string hint = PortAccessHint(port, GetLastOpenError());
    if (!hint.empty()) {
        std::printf("%s", hint.c_str());
        std::fflush(stdout);
    }
}

}  // namespace Jobs
