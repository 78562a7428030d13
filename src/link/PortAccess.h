#pragma once
// Why the account may not open a serial port, in words a technician can act on: the group
// that owns the device (not always dialout), and whether the account is in it already but
// the login began before it joined. Plain POSIX; elsewhere only the general advice.

#include <string>

namespace q218 {

// One sentence for the device at `path` after an open was refused for permission.
std::string PermissionAdvice(const std::string& path);

// Where this account stands with the group that owns a port.
enum class GroupStanding {
    InLogin,           // this login runs with the group: the port's mode is at fault
    JoinedSinceLogin,  // the account joined it after this login began
    Outside,
};

// The advice for the port `path` of the group `group`; `rootGroup` when that is root's own
// group (gid 0), which no account should join to reach a port.
std::string GroupAdvice(const std::string& path, const std::string& group, bool rootGroup,
                        GroupStanding standing);

}  // namespace q218
