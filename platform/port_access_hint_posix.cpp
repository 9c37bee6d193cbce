#include "platform/port_access_hint.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace Platform {

namespace {

const char* const USUAL_GROUP = "dialout";
const size_t NAME_BUFFER_SIZE = 16384;

struct DeviceOwner {
    bool examined = false;
    gid_t gid = 0;
    std::string group;  // its number as text when the group has no name
    mode_t mode = 0;
};

DeviceOwner ExamineDevice(const std::string& path)
{
    DeviceOwner owner;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return owner;
    }
    owner.examined = true;
    owner.gid = info.st_gid;
    owner.mode = info.st_mode & 07777;
    std::vector<char> buffer(NAME_BUFFER_SIZE);
    struct group entry {};
    struct group* found = nullptr;
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->gr_name != nullptr) {
        owner.group = found->gr_name;
    } else {
        owner.group = std::to_string(info.st_gid);
    }
    return owner;
}

bool ProcessHasGroup(gid_t gid)
{
    if (getegid() == gid) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the user database already puts the user in group gid: true right
// after usermod, while the session still runs with the groups of its login.
bool UserListedInGroup(gid_t gid)
{
    std::vector<char> buffer(NAME_BUFFER_SIZE);
    struct passwd entry {};
    struct passwd* user = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &user) != 0 || user == nullptr) {
        return false;
    }
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    while (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        if (count <= static_cast<int>(groups.size())) {
            return false;
        }
        groups.resize(static_cast<size_t>(count));
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

std::string JoinCommand(const std::string& group)
{
    return "sudo usermod -aG " + group + " $USER, then log in again";
}

}  // namespace

std::string PortAccessHint(const std::string& port, int error)
{
    if (error != EACCES && error != EPERM) {
        return "";
    }
    const DeviceOwner owner = ExamineDevice(port);
    const std::string start = "hint: permission denied on " + port + ": ";
    if (!owner.examined) {
        return start + "on Linux the user must be in the group that owns the device, usually " + USUAL_GROUP + " (" +
               JoinCommand(USUAL_GROUP) + ").\n";
    }
    if (owner.group == "root") {
        // Joining root's group is no answer; the device needs a group of its own.
        return start + "it belongs to group root; a udev rule must give it to a group such as " + USUAL_GROUP +
               ", and the user must be in that group.\n";
    }
    if (ProcessHasGroup(owner.gid)) {
        const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
        if ((owner.mode & groupReadWrite) != groupReadWrite) {
            char mode[16];
            std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(owner.mode));
            return start + "the user is in group " + owner.group + ", which owns the device, but the group may not " +
                   "read and write it (mode " + mode + "); a udev rule must give the group read and write access.\n";
        }
        return start + "the user is in group " + owner.group + ", which owns the device and may read and write " +
               "it; something else refuses it (an access control list or a security module).\n";
    } else if (UserListedInGroup(owner.gid)) {
        return start + "the user was added to group " + owner.group + ", which owns the device, but this session " +
               "started before: log in again (or run newgrp " + owner.group + ").\n";
    }
    return start + "on Linux the user must be in group " + owner.group + ", which owns the device (" +
           JoinCommand(owner.group) + ").\n";
}

}  // namespace Platform
