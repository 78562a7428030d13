#pragma once
// The serial port of the in-memory tests: COM ports wired to simulated devices (or to
// nothing) on a fake clock, so that the identification, the port scan and the download run
// fast and deterministically. Written bytes reach the device at once; the device's bytes
// become readable when its clock reaches their time.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "link/SerialLink.h"
#include "sim/SimulatedQ218.h"

namespace q218::sim {

class InMemoryLink final : public SerialLink {
public:
    // Wiring. A port neither attached nor silent does not exist: opening it fails.
    void Attach(std::int16_t port, SimulatedQ218& device);
    // A port that opens but where nothing answers (no device on the cable).
    void AddSilentPort(std::int16_t port);
    // Another program holds the port: opening it fails.
    void SetBusy(std::int16_t port, bool busy);
    // The account may not open the port: opening it fails.
    void SetForbidden(std::int16_t port, bool forbidden);

    // Inspection.
    int OpenCount(std::int16_t port) const;  // successful opens
    std::int16_t CommPort() const { return m_commPort; }
    int InputLen() const { return m_inputLen; }
    const LineSettings& Settings() const { return m_settings; }
    // Everything written on each port while it was open, in order.
    const std::string& Written(std::int16_t port) const;
    // Uses the real control would refuse: CommPort changed while open, Output or Input on a
    // closed port.
    int Misuses() const { return m_misuses; }

    // SerialLink
    bool PortOpen() const override;
    OpenResult SetPortOpen(bool open) override;
    void SetCommPort(std::int16_t port) override;
    void SetInputLen(int length) override { m_inputLen = length; }
    void SetSettings(const LineSettings& settings) override { m_settings = settings; }
    void Output(std::string_view bytes) override;
    std::string Input() override;
    int InBufferCount() const override;
    bool LineLost() const override;

private:
    struct Port {
        SimulatedQ218* device = nullptr;
        bool silent = false;
        bool busy = false;
        bool forbidden = false;
        int opens = 0;
        std::string written;
    };

    // Moves what the device has sent by now into the receive buffer and notices a line
    // that vanished. Const users call it too: reading a count is when the bytes arrive.
    void Pump() const;
    bool Exists(const Port& port) const;

    std::map<std::int16_t, Port> m_ports;
    std::int16_t m_commPort = 1;
    int m_inputLen = 0;
    LineSettings m_settings = kLineSettings;
    // The line state changes when a read notices that the device's line vanished.
    mutable bool m_open = false;
    std::int16_t m_openPort = 0;  // the port that is open, while m_open
    mutable bool m_lost = false;
    mutable std::string m_buffer;
    mutable int m_misuses = 0;
};

}  // namespace q218::sim
