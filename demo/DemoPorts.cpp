#include "DemoPorts.h"

#include <unistd.h>

#include <filesystem>
#include <optional>

namespace q218::demo {

std::unique_ptr<DemoPorts> DemoPorts::Create(const sim::PreviousFirmware& firmware, bool paced,
                                             std::string& error) {
    std::unique_ptr<DemoPorts> ports(new DemoPorts());
    sim::PtyServer::Created silent1 = sim::PtyServer::Create(std::nullopt);
    sim::PtyServer::Created silent2 = sim::PtyServer::Create(std::nullopt);
    sim::PtyServer::Created device = sim::PtyServer::Create(firmware);
    for (const auto* created : {&silent1, &silent2, &device}) {
        if (!created->server) {
            error = created->error;
            return nullptr;
        }
    }
    ports->m_silent1 = std::move(silent1.server);
    ports->m_silent2 = std::move(silent2.server);
    ports->m_device = std::move(device.server);
    ports->m_device->WithDevice([paced](sim::SimulatedQ218& d) { d.Paced(paced); });

    // A name in the temporary folder that is never created: opening it fails as a missing
    // port does.
    ports->m_absent = (std::filesystem::temp_directory_path() /
                       ("q218-demo-" + std::to_string(::getpid()) + "-no-such-port"))
                          .string();

    const std::string serial = firmware.serial.empty() ? "none" : firmware.serial;
    ports->m_deviceText = "simulated Q218, serial " + serial + ", firmware " + firmware.revision +
                          " " + firmware.date + (paced ? ", paced like 9600 baud" : ", unpaced");
    return ports;
}

PortNameMap DemoPorts::Names() const {
    return [slave1 = m_silent1->SlavePath(), slave2 = m_silent2->SlavePath(),
            device = m_device->SlavePath(), absent = m_absent](std::int16_t port) {
        switch (port) {
            case 1:
                return slave1;
            case 2:
                return slave2;
            case kDevicePort:
                return device;
            case 4:
                return absent;
            default:
                return std::string();
        }
    };
}

std::string DemoPorts::Describe() const {
    return "  COM1 -> " + m_silent1->SlavePath() + " (pseudo-terminal, nothing answers)\n" +
           "  COM2 -> " + m_silent2->SlavePath() + " (pseudo-terminal, nothing answers)\n" +
           "  COM3 -> " + m_device->SlavePath() + " (" + m_deviceText + ")\n" + "  COM4 -> " +
           m_absent + " (does not exist)\n";
}

}  // namespace q218::demo
