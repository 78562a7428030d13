#pragma once
// The simulated Q218 behind a pseudo-terminal: a thread serves the master side on the real
// monotonic clock, and any program can open the slave side as if it were a serial port
// (it configures the line itself; the master is raw so nothing is echoed or translated
// before it does). A server without a device is a port where nothing answers.
// Unlike a USB adapter whose driver stops reading when the port is closed, bytes the device
// sends while no client has the slave open wait in the slave's input queue; a client that
// must not see them flushes on open (QSerialPort::clear, tcflush).

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "link/MonotonicClock.h"
#include "sim/Pty.h"
#include "sim/SimulatedQ218.h"

namespace q218::sim {

class PtyServer {
public:
    struct Created;

    // A pty served by a device that holds `firmware`, or a silent pty when there is none.
    // The device starts in its application; configure it with WithDevice before a client
    // opens the slave. Fails (server null, error set) when no pty can be had.
    static Created Create(const std::optional<PreviousFirmware>& firmware);

    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // The path to open as a serial port, e.g. /dev/pts/7.
    const std::string& SlavePath() const { return m_slavePath; }
    bool HasDevice() const { return m_device != nullptr; }

    // Runs `action` on the device under the server's lock: the one thread-safe way to set
    // faults, press the reset button or read program memory and transcript, also while a
    // client is talking to it. Only when HasDevice().
    template <typename Action>
    decltype(auto) WithDevice(Action&& action) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::forward<Action>(action)(*m_device);
    }

    // Pulls the adapter out: the master closes, a client reading the slave sees a hang-up
    // and the slave path disappears. Also happens by itself when the device's fault
    // UnplugAtFrame or UnplugAfterReplyToFrame strikes.
    void Unplug();
    bool IsUnplugged() const { return m_unplugged.load(); }
    // Plugs the adapter in again: a new pty (SlavePath changes, as a USB adapter may come
    // back under another name), and the device powers up from its program memory. False,
    // with `error` set, when no pty can be had.
    bool Replug(std::string& error);

    // Ends the serving thread (the destructor does it too).
    void Stop();

private:
    PtyServer() = default;
    bool Open(std::string& error);
    bool OpenPty(std::string& error);
    void Serve();
    // Gives the client the device's last bytes before the master closes.
    void HandOverLastBytes(std::string bytes);
    // Writes as much of `bytes` to the master as it takes now and drops that from `bytes`;
    // false when the slave's input queue (or the line) took no more.
    bool WriteToMaster(std::string& bytes);
    void CloseMaster();
    void Wake();

    SteadyClock m_clock;
    std::unique_ptr<SimulatedQ218> m_device;
    std::mutex m_mutex;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_unplugRequested{false};
    std::atomic<bool> m_unplugged{false};
    std::optional<Pty> m_pty;
    int m_master = -1;  // m_pty's master while the adapter is plugged in
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::string m_slavePath;
};

struct PtyServer::Created {
    std::unique_ptr<PtyServer> server;
    std::string error;
};

}  // namespace q218::sim
