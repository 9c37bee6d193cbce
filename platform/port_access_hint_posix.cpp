#include "platform/port_access_hint.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace Platform {

namespace {

const char* const USUAL_GROUP = "dialout";

// Name of the group owning path (its number as text when the group has no
// name); empty when path cannot be examined.
std::string DeviceGroupName(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return "";
    }
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->gr_name != nullptr) {
        return found->gr_name;
    }
    return std::to_string(info.st_gid);
}

}  // namespace

std::string PortAccessHint(const std::string& port, int error)
{
    if (error != EACCES && error != EPERM) {
        return "";
    }
    const std::string group = DeviceGroupName(port);
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

}  // namespace Platform
