#pragma once
// One pseudo-terminal pair, owned: the master (the device's end) and the slave's path (what a
// program opens as its serial port). Raw from the start: with the default line discipline the
// slave would echo the device's own bytes back to it and turn CR into LF before a client sets
// it up. Optionally the slave is held open too, so that the master sees no hang-up while no
// client has it open. Everything is close-on-exec: a child process (a test running a program
// against the pty) must not hold the device's end, or closing it would never reach the port.

#include <string>

namespace q218::sim {

class Pty {
public:
    enum class Slave { Held, NotHeld };

    // Opens a pair; Valid() is false, with Error() saying why, when the system refuses.
    explicit Pty(Slave slave);
    ~Pty();
    Pty(Pty&& other) noexcept;
    Pty& operator=(Pty&& other) noexcept;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Valid() const { return m_master >= 0; }
    const std::string& Error() const { return m_error; }
    int Master() const { return m_master; }
    // The slave as held open by this pair, -1 when not held.
    int HeldSlave() const { return m_slaveHold; }
    // e.g. /dev/pts/7
    const std::string& SlavePath() const { return m_slavePath; }

    // Closes both ends: the adapter pulled out. The slave path disappears with the last close.
    void Close();

private:
    bool Fail(const char* what);

    int m_master = -1;
    int m_slaveHold = -1;
    std::string m_slavePath;
    std::string m_error;
};

}  // namespace q218::sim
