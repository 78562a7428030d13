#include "PseudoTerminal.h"

#include <poll.h>
#include <unistd.h>

namespace q218::test {

PseudoTerminal::PseudoTerminal() : m_pty(sim::Pty::Slave::NotHeld) {}

bool PseudoTerminal::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_pty.Master(), bytes.data(), bytes.size());
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string PseudoTerminal::Read(std::chrono::milliseconds timeout) {
    std::string received;
    pollfd fd{m_pty.Master(), POLLIN, 0};
    int waitMs = static_cast<int>(timeout.count());
    while (::poll(&fd, 1, waitMs) > 0 && (fd.revents & POLLIN) != 0) {
        char buffer[256];
        const ssize_t got = ::read(m_pty.Master(), buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        waitMs = 20;
    }
    return received;
}

void PseudoTerminal::CloseMaster() {
    m_pty.Close();
}

}  // namespace q218::test
