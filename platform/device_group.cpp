#include "platform/device_group.h"

#include <grp.h>
#include <sys/stat.h>

#include <vector>

namespace Platform {

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

}  // namespace Platform
