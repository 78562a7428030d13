#include "PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>

namespace q218::test {

PseudoTerminal::PseudoTerminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        return;
    }
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname(master) == nullptr) {
        ::close(master);
        return;
    }
    m_slaveName = ::ptsname(master);
    m_master = master;
}

PseudoTerminal::~PseudoTerminal() {
    CloseMaster();
}

bool PseudoTerminal::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(m_master, bytes.data(), bytes.size());
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string PseudoTerminal::Read(std::chrono::milliseconds timeout) {
    std::string received;
    pollfd fd{m_master, POLLIN, 0};
    int waitMs = static_cast<int>(timeout.count());
    while (::poll(&fd, 1, waitMs) > 0 && (fd.revents & POLLIN) != 0) {
        char buffer[256];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        waitMs = 20;
    }
    return received;
}

void PseudoTerminal::CloseMaster() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

}  // namespace q218::test
