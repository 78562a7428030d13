#include "link/PortNames.h"

#include <system_error>

namespace q218 {

std::string LinuxPortName(std::int16_t port, const std::filesystem::path& devFolder) {
    if (port < 1) {
        return "";
    }
    const std::filesystem::path named = devFolder / ("COM" + std::to_string(port));
    std::error_code error;
    // exists() follows the link: a udev link left behind by an unplugged adapter is skipped.
    if (std::filesystem::exists(named, error)) {
        return named.string();
    }
    return (devFolder / ("ttyS" + std::to_string(port - 1))).string();
}

PortNameMap UpdaterPortNames() {
#ifdef _WIN32
    return
        [](std::int16_t port) { return port < 1 ? std::string() : "COM" + std::to_string(port); };
#else
    return [](std::int16_t port) { return LinuxPortName(port); };
#endif
}

}  // namespace q218
