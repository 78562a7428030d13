#pragma once
// Which device a COM number opens. The link is handed one mapping; the updater uses its own
// (below), the demo and the tests hand theirs (pseudo-terminals of the simulated device).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace q218 {

// COM number (1 to 4) -> the device name the serial port opens; "" = no such port.
using PortNameMap = std::function<std::string(std::int16_t)>;

// The Linux naming: /dev/COMn when it exists (a link an administrator makes with a udev rule
// for a USB adapter, as Windows assigns COM numbers), else /dev/ttyS<n-1>, the kernel's own
// name for COMn. `devFolder` stands in for /dev in tests.
std::string LinuxPortName(std::int16_t port, const std::filesystem::path& devFolder = "/dev");

// The updater's own mapping on this platform: "COM1".."COM4" on Windows, LinuxPortName
// elsewhere.
PortNameMap UpdaterPortNames();

}  // namespace q218
