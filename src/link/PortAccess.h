#pragma once
// Why the account may not open a serial port, in words a technician can act on: the group
// that owns the device (not always dialout), and whether the account is in it already but
// the login began before it joined. Plain POSIX; elsewhere only the general advice.

#include <string>

namespace q218 {

// One sentence for the device at `path` after an open was refused for permission.
std::string PermissionAdvice(const std::string& path);

}  // namespace q218
