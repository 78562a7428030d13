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
    // Windows opens COM1 to COM4 by these names; a USB adapter's number is chosen in the
    // Device Manager. Elsewhere the Linux naming below.
    return
        [](std::int16_t port) { return port < 1 ? std::string() : "COM" + std::to_string(port); };
#else
    // Linux: /dev/COMn links made by udev rules, else the kernel's ttyS names. Windows: above.
    return [](std::int16_t port) { return LinuxPortName(port); };
#endif
}

}  // namespace q218
