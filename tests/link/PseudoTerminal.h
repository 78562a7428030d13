#pragma once
// A pseudo-terminal for the serial-link tests: the link opens the slave side as its serial
// port; the test plays the device on the master side.

#include <chrono>
#include <string>
#include <string_view>

#include "sim/Pty.h"

namespace q218::test {

class PseudoTerminal {
public:
    // Opens a master and unlocks its slave; Valid() is false if the system refused.
    PseudoTerminal();

    bool Valid() const { return m_pty.Valid(); }
    // The slave's device name, e.g. "/dev/pts/7".
    const std::string& SlaveName() const { return m_pty.SlavePath(); }
    int MasterFd() const { return m_pty.Master(); }

    // The device's side: writes bytes to the line.
    bool Write(std::string_view bytes);
    // Reads what arrived within `timeout` (until nothing more comes for a few milliseconds).
    std::string Read(std::chrono::milliseconds timeout);
    // Unplugs the device: closes the master, so the slave's line is gone.
    void CloseMaster();

private:
    sim::Pty m_pty;
};

}  // namespace q218::test
