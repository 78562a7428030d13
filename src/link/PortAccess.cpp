#include "link/PortAccess.h"

#if defined(__unix__) || defined(__APPLE__)
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>
#endif

namespace q218 {

#if defined(__unix__) || defined(__APPLE__)
namespace {

// The groups this process runs with: those of the login, fixed when it began.
bool ProcessHasGroup(gid_t group) {
    if (getegid() == group) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(count, 0), group) !=
           groups.begin() + std::max(count, 0);
}

// The groups the account has now, as the group database says.
bool AccountHasGroup(gid_t group) {
    const passwd* user = getpwuid(getuid());
    if (user == nullptr) {
        return false;
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
            return false;
        }
    }
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

}  // namespace

std::string PermissionAdvice(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) {
        return "permission denied.";
    }
    const group* owner = getgrgid(status.st_gid);
    const std::string name = owner != nullptr ? owner->gr_name : std::to_string(status.st_gid);
    const GroupStanding standing = ProcessHasGroup(status.st_gid) ? GroupStanding::InLogin
                                   : AccountHasGroup(status.st_gid)
                                       ? GroupStanding::JoinedSinceLogin
                                       : GroupStanding::Outside;
    return GroupAdvice(path, name, status.st_gid == 0, standing);
}
#else
std::string PermissionAdvice(const std::string& /*path*/) {
    return "access denied: another program may hold the port, or the account may not use it.";
}
#endif

std::string GroupAdvice(const std::string& path, const std::string& group, bool rootGroup,
                        GroupStanding standing) {
    switch (standing) {
        case GroupStanding::InLogin:
            return "permission denied, although this login is in the port's group " + group +
                   ": the port's mode does not let the group read and write it.";
        case GroupStanding::JoinedSinceLogin:
            return "permission denied: the account is in the port's group " + group +
                   ", but this login began before it joined: log out and in again (or run "
                   "newgrp " +
                   group + ").";
        case GroupStanding::Outside:
            break;
    }
    if (rootGroup) {
        // A port of group root was made by a program run as root (a simulator under sudo, a
        // hand-made node): joining root's group would open far more than the port.
        return "permission denied: the port belongs to the group root, which no account should "
               "join: make it this account's (sudo chown \"$USER\" " +
               path + ") or give it the group dialout with a udev rule.";
    }
    return "permission denied: the port belongs to the group " + group + ": sudo usermod -aG " +
           group + " \"$USER\", then log out and in again.";
}

}  // namespace q218
