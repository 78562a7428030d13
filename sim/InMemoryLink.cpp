#include "sim/InMemoryLink.h"

namespace q218::sim {

void InMemoryLink::Attach(std::int16_t port, SimulatedQ218& device) {
    m_ports[port].device = &device;
    m_ports[port].silent = false;
}

void InMemoryLink::AddSilentPort(std::int16_t port) {
    m_ports[port].device = nullptr;
    m_ports[port].silent = true;
}

void InMemoryLink::SetBusy(std::int16_t port, bool busy) {
    m_ports[port].busy = busy;
}

void InMemoryLink::SetForbidden(std::int16_t port, bool forbidden) {
    m_ports[port].forbidden = forbidden;
}

int InMemoryLink::OpenCount(std::int16_t port) const {
    const auto it = m_ports.find(port);
    return it == m_ports.end() ? 0 : it->second.opens;
}

const std::string& InMemoryLink::Written(std::int16_t port) const {
    static const std::string kNothing;
    const auto it = m_ports.find(port);
    return it == m_ports.end() ? kNothing : it->second.written;
}

bool InMemoryLink::Exists(const Port& port) const {
    if (port.silent) {
        return true;
    }
    // A device whose line vanished takes its port with it (a USB adapter pulled out).
    return port.device != nullptr && !port.device->IsUnplugged();
}

bool InMemoryLink::PortOpen() const {
    Pump();
    return m_open;
}

OpenResult InMemoryLink::SetPortOpen(bool open) {
    Pump();
    if (!open) {
        m_open = false;
        m_buffer.clear();
        return {};
    }
    if (m_open) {
        return {};
    }
    const auto it = m_ports.find(m_commPort);
    const std::string path = "COM" + std::to_string(m_commPort);
    if (it != m_ports.end() && it->second.forbidden) {
        return {OpenError{OpenFailure::PermissionDenied, path, "Permission denied"}};
    }
    if (it == m_ports.end() || !Exists(it->second)) {
        return {OpenError{OpenFailure::NoSuchPort, path, "No such file or directory"}};
    }
    if (it->second.busy) {
        return {OpenError{OpenFailure::Busy, path, "Device or resource busy"}};
    }
    Port& port = it->second;
    if (port.device != nullptr) {
        port.device->TakeReadable();  // sent while nobody listened: gone
    }
    ++port.opens;
    m_open = true;
    m_openPort = m_commPort;
    m_lost = false;
    m_buffer.clear();
    return {};
}

void InMemoryLink::SetCommPort(std::int16_t port) {
    if (m_open) {
        ++m_misuses;
        return;
    }
    m_commPort = port;
}

void InMemoryLink::Output(std::string_view bytes) {
    Pump();
    if (!m_open) {
        // A lost line drops the write; writing to a port never opened is a caller's error.
        if (!m_lost) {
            ++m_misuses;
        }
        return;
    }
    Port& port = m_ports[m_openPort];
    port.written += bytes;
    if (port.device != nullptr) {
        port.device->Receive(bytes);
    }
    Pump();
}

std::string InMemoryLink::Input() {
    Pump();
    if (!m_open) {
        if (!m_lost) {
            ++m_misuses;
        }
        return "";
    }
    std::string taken;
    if (m_inputLen <= 0 || static_cast<std::size_t>(m_inputLen) >= m_buffer.size()) {
        taken.swap(m_buffer);
    } else {
        taken = m_buffer.substr(0, static_cast<std::size_t>(m_inputLen));
        m_buffer.erase(0, static_cast<std::size_t>(m_inputLen));
    }
    return taken;
}

int InMemoryLink::InBufferCount() const {
    Pump();
    return static_cast<int>(m_buffer.size());
}

bool InMemoryLink::LineLost() const {
    Pump();
    return m_lost;
}

void InMemoryLink::Pump() const {
    if (!m_open) {
        return;
    }
    const auto it = m_ports.find(m_openPort);
    if (it == m_ports.end() || it->second.device == nullptr) {
        return;
    }
    SimulatedQ218& device = *it->second.device;
    m_buffer += device.TakeReadable();
    if (device.IsUnplugged()) {
        // The port vanished under us: what had arrived is gone with it.
        m_open = false;
        m_buffer.clear();
        m_lost = true;
    }
}

}  // namespace q218::sim
