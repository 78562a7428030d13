#include "sim/Pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace q218::sim {

Pty::Pty(Slave slave) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        Fail("posix_openpt");
        return;
    }
    char name[128];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        Fail("grantpt/unlockpt/ptsname");
        return;
    }
    m_slavePath = name;
    termios tio{};
    if (tcgetattr(m_master, &tio) != 0) {
        Fail("tcgetattr");
        return;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(m_master, TCSANOW, &tio) != 0) {
        Fail("tcsetattr");
        return;
    }
    if (slave == Slave::Held) {
        m_slaveHold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_slaveHold < 0) {
            Fail("open slave");
        }
    }
}

Pty::~Pty() {
    Close();
}

Pty::Pty(Pty&& other) noexcept
    : m_master(std::exchange(other.m_master, -1)),
      m_slaveHold(std::exchange(other.m_slaveHold, -1)),
      m_slavePath(std::move(other.m_slavePath)),
      m_error(std::move(other.m_error)) {}

Pty& Pty::operator=(Pty&& other) noexcept {
    if (this != &other) {
        Close();
        m_master = std::exchange(other.m_master, -1);
        m_slaveHold = std::exchange(other.m_slaveHold, -1);
        m_slavePath = std::move(other.m_slavePath);
        m_error = std::move(other.m_error);
    }
    return *this;
}

void Pty::Close() {
    for (int* fd : {&m_slaveHold, &m_master}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

bool Pty::Fail(const char* what) {
    m_error = std::string(what) + ": " + std::strerror(errno);
    Close();
    return false;
}

}  // namespace q218::sim
