#pragma once
// The demo's serial ports: COM1 and COM2 lead to pseudo-terminals where nothing answers, COM3
// to the simulated Q218 served on a pseudo-terminal, COM4 to a name that does not exist. The
// machine's own serial ports are never named, so the demo cannot write to one.

#include <memory>
#include <string>

#include "link/PortNames.h"
#include "sim/PtyServer.h"
#include "sim/SimulatedQ218.h"

namespace q218::demo {

// The COM number the simulated device answers on.
inline constexpr std::int16_t kDevicePort = 3;

class DemoPorts {
public:
    // Opens the three pseudo-terminals; null with `error` set when the system refuses one.
    static std::unique_ptr<DemoPorts> Create(const sim::PreviousFirmware& firmware, bool paced,
                                             std::string& error);

    // The mapping the updater's serial link is handed: COM number -> device name.
    PortNameMap Names() const;
    sim::PtyServer& Device() { return *m_device; }
    // One line per COM port: its device name and what is behind it.
    std::string Describe() const;

private:
    DemoPorts() = default;

    std::unique_ptr<sim::PtyServer> m_silent1;
    std::unique_ptr<sim::PtyServer> m_silent2;
    std::unique_ptr<sim::PtyServer> m_device;
    std::string m_absent;
    std::string m_deviceText;
};

}  // namespace q218::demo
