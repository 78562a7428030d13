#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace q218::sim {

namespace {

using namespace std::chrono_literals;

// Longest sleep of the serving thread when nothing is due; it wakes at once for input, a
// stop or an unplug, so this only bounds how late a missed wake-up could be noticed.
constexpr std::chrono::nanoseconds kIdleWait = 200ms;
// How a device's last bytes are handed over before the line vanishes: how often the server
// looks whether the client has read them, for how long at most, and how long it then leaves
// the client to queue its answer (a client that takes longer meets the same lost line,
// only with nothing queued yet).
constexpr auto kHandOverPoll = 1ms;
constexpr auto kHandOverLimit = 5s;
constexpr auto kAnswerQueued = 20ms;

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

PtyServer::Created PtyServer::Create(const std::optional<PreviousFirmware>& firmware) {
    Created created;
    std::unique_ptr<PtyServer> server(new PtyServer());
    if (firmware) {
        server->m_device = std::make_unique<SimulatedQ218>(server->m_clock, *firmware);
    }
    if (!server->Open(created.error)) {
        return created;
    }
    server->m_thread = std::thread([s = server.get()] { s->Serve(); });
    created.server = std::move(server);
    return created;
}

bool PtyServer::Open(std::string& error) {
    if (!OpenPty(error)) {
        return false;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = ErrnoText("pipe");
        return false;
    }
    m_wakeRead = pipeFds[0];
    m_wakeWrite = pipeFds[1];
    if (!SetNonBlocking(m_wakeRead) || !SetNonBlocking(m_wakeWrite)) {
        error = ErrnoText("fcntl");
        return false;
    }
    return true;
}

bool PtyServer::Replug(std::string& error) {
    Stop();
    CloseMaster();
    m_stop = false;
    m_unplugRequested = false;
    m_unplugged = false;
    if (!OpenPty(error)) {
        return false;
    }
    if (m_device) {
        m_device->Replug();
    }
    m_thread = std::thread([this] { Serve(); });
    return true;
}

bool PtyServer::OpenPty(std::string& error) {
    Pty pty(Pty::Slave::Held);
    if (!pty.Valid()) {
        error = pty.Error();
        return false;
    }
    if (!SetNonBlocking(pty.Master())) {
        error = ErrnoText("fcntl");
        return false;
    }
    m_master = pty.Master();
    m_slavePath = pty.SlavePath();
    m_pty = std::move(pty);
    return true;
}

PtyServer::~PtyServer() {
    Stop();
    CloseMaster();
    for (int fd : {m_wakeRead, m_wakeWrite}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void PtyServer::Stop() {
    m_stop = true;
    Wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PtyServer::Unplug() {
    m_unplugRequested = true;
    Wake();
    // Wait until the thread has closed the master, so the caller sees the hang-up next.
    while (m_thread.joinable() && !m_unplugged && !m_stop) {
        std::this_thread::sleep_for(1ms);
    }
    if (!m_thread.joinable()) {
        CloseMaster();
    }
}

void PtyServer::Wake() {
    if (m_wakeWrite >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing to do then.
        [[maybe_unused]] const ssize_t n = write(m_wakeWrite, &byte, 1);
    }
}

void PtyServer::CloseMaster() {
    if (m_master >= 0) {
        m_pty.reset();
        m_master = -1;
        m_unplugged = true;
    }
}

void PtyServer::HandOverLastBytes(std::string bytes) {
    const int slave = m_pty ? m_pty->HeldSlave() : -1;
    if (bytes.empty() || slave < 0) {
        return;
    }
    // The slave sends nothing while stopped: the client's answer to these bytes waits in its
    // own queue and meets the hang-up there, as when an adapter is pulled between the
    // device's reply and the host's next write.
    ::tcflow(slave, TCOOFF);
    if (!WriteToMaster(bytes)) {
        return;
    }
    // The hang-up would discard bytes the client has not read yet. A poll of the slave
    // pushes what is still on its way into the input queue before it answers, so "nothing
    // to read" means the client has taken everything.
    const auto deadline = std::chrono::steady_clock::now() + kHandOverLimit;
    pollfd unread{slave, POLLIN, 0};
    while (!m_stop && ::poll(&unread, 1, 0) > 0 && (unread.revents & POLLIN) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kHandOverPoll);
        unread.revents = 0;
    }
    // A moment for the client to act on them and queue its answer.
    std::this_thread::sleep_for(kAnswerQueued);
}

bool PtyServer::WriteToMaster(std::string& bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(m_master, bytes.data(), bytes.size());
        if (n <= 0) {
            return false;
        }
        bytes.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

void PtyServer::Serve() {
    std::string pending;  // the device's bytes the client has not taken yet
    char buffer[512];
    while (!m_stop) {
        if (m_unplugRequested) {
            if (m_device) {
                WithDevice([](SimulatedQ218& device) { device.Unplug(); });
            }
            CloseMaster();
        }
        std::chrono::nanoseconds wait = kIdleWait;
        std::optional<std::string> vanishing;
        if (m_master >= 0 && m_device) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_device->Update();
            pending += m_device->TakeReadable();
            if (m_device->IsUnplugged()) {
                // What the device sent before the line vanished still reaches the client.
                vanishing = std::exchange(pending, {});
            } else if (const auto next = m_device->NextEventTime()) {
                wait = std::clamp<std::chrono::nanoseconds>(*next - m_clock.Now(), 0ns, wait);
            }
        }
        if (vanishing) {
            HandOverLastBytes(std::move(*vanishing));
            CloseMaster();
        }
        if (m_master >= 0) {
            // What the slave's full input queue does not take now waits for POLLOUT.
            static_cast<void>(WriteToMaster(pending));
        }

        pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {m_master, POLLIN, 0}};
        if (!pending.empty()) {
            fds[1].events |= POLLOUT;
        }
        const nfds_t count = m_master >= 0 ? 2 : 1;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>((wait - seconds).count())};
        if (ppoll(fds, count, &timeout, nullptr) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            while (read(m_wakeRead, buffer, sizeof buffer) > 0) {
            }
        }
        if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) {
            // Cannot happen while the server holds the slave open; never spin if it does.
            std::this_thread::sleep_for(10ms);
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n > 0 && m_device) {
                WithDevice([&](SimulatedQ218& device) {
                    device.Receive(std::string_view(buffer, static_cast<std::size_t>(n)));
                });
            }
        }
    }
}

}  // namespace q218::sim
