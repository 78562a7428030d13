// q218-sim: a simulated Q218 on a pseudo-terminal, for running the updater without a device.
// Prints the path of the device's pty (and of each silent pty), optionally links them at
// given paths, and serves until SIGINT or SIGTERM. SIGUSR1 presses the reset button.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sim/PtyServer.h"
#include "sim/SimOptions.h"

namespace {

using q218::sim::PtyServer;

// Links `path` to `target`, replacing only an earlier symbolic link, never a file.
bool MakeLink(const std::string& target, const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "q218-sim: %s exists and is not a symbolic link\n", path.c_str());
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        std::perror(("q218-sim: symlink " + path).c_str());
        return false;
    }
    return true;
}

// Under sudo the ptys are root's, and the window started as the user who asked for them could
// not open them: give them to that user (SUDO_UID and SUDO_GID), as if they had made them.
bool GiveToSudoUser(const std::string& slave) {
    const char* uid = std::getenv("SUDO_UID");
    const char* gid = std::getenv("SUDO_GID");
    if (geteuid() != 0 || uid == nullptr || gid == nullptr) {
        return true;
    }
    char* uidEnd = nullptr;
    char* gidEnd = nullptr;
    const unsigned long user = std::strtoul(uid, &uidEnd, 10);
    const unsigned long group = std::strtoul(gid, &gidEnd, 10);
    if (*uid == '\0' || *uidEnd != '\0' || *gid == '\0' || *gidEnd != '\0' ||
        chown(slave.c_str(), static_cast<uid_t>(user), static_cast<gid_t>(group)) != 0) {
        std::perror(("q218-sim: giving " + slave + " to SUDO_UID/SUDO_GID").c_str());
        return false;
    }
    return true;
}

// Removes `path` only if it is still our link to `target`.
void RemoveLink(const std::string& target, const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target) {
        unlink(path.c_str());
    }
}

// Links the device's pty and each silent one at the paths the options give; false when one
// could not be linked.
bool LinkAll(const q218::sim::SimOptions& options, const PtyServer& device,
             const std::vector<std::unique_ptr<PtyServer>>& silent) {
    // Under sudo the ptys go to the user who asked for them, so that the window they start
    // as themselves can open them.
    bool linked = GiveToSudoUser(device.SlavePath());
    for (std::size_t i = 0; linked && i < silent.size(); ++i) {
        linked = GiveToSudoUser(silent[i]->SlavePath());
    }
    if (linked && !options.linkPath.empty()) {
        linked = MakeLink(device.SlavePath(), options.linkPath);
    }
    for (std::size_t i = 0; linked && i < silent.size(); ++i) {
        linked = MakeLink(silent[i]->SlavePath(), options.silentLinks[i]);
    }
    return linked;
}

void UnlinkAll(const q218::sim::SimOptions& options, const PtyServer& device,
               const std::vector<std::unique_ptr<PtyServer>>& silent) {
    if (!options.linkPath.empty()) {
        RemoveLink(device.SlavePath(), options.linkPath);
    }
    for (std::size_t i = 0; i < silent.size(); ++i) {
        RemoveLink(silent[i]->SlavePath(), options.silentLinks[i]);
    }
}

// Prints the ptys' paths, then serves until SIGINT or SIGTERM; SIGUSR1 presses the reset
// button.
void Serve(PtyServer& device, const std::vector<std::unique_ptr<PtyServer>>& silent,
           const sigset_t& signals) {
    std::printf("%s\n", device.SlavePath().c_str());
    for (const auto& s : silent) {
        std::printf("%s\n", s->SlavePath().c_str());
    }
    std::fflush(stdout);
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0 || signal != SIGUSR1) {
            return;
        }
        device.WithDevice([](q218::sim::SimulatedQ218& d) { d.ResetByHand(); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const q218::sim::ParsedOptions parsed = q218::sim::ParseSimOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "q218-sim: %s\n%s", parsed.error.c_str(),
                     q218::sim::SimUsage().c_str());
        return 2;
    }
    const q218::sim::SimOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(q218::sim::SimUsage().c_str(), stdout);
        return 0;
    }

    // Block the signals before any thread starts, so that only sigwait below receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    PtyServer::Created device = PtyServer::Create(options.device.firmware);
    if (!device.server) {
        std::fprintf(stderr, "q218-sim: no pty: %s\n", device.error.c_str());
        return 1;
    }
    device.server->WithDevice(
        [&](q218::sim::SimulatedQ218& d) { q218::sim::ApplyOptions(options, d); });
    std::vector<std::unique_ptr<PtyServer>> silent;
    for (std::size_t i = 0; i < options.silentLinks.size(); ++i) {
        PtyServer::Created created = PtyServer::Create(std::nullopt);
        if (!created.server) {
            std::fprintf(stderr, "q218-sim: no pty: %s\n", created.error.c_str());
            return 1;
        }
        silent.push_back(std::move(created.server));
    }

    const bool linked = LinkAll(options, *device.server, silent);
    if (linked) {
        Serve(*device.server, silent, signals);
    }

    device.server->Stop();
    for (const auto& s : silent) {
        s->Stop();
    }
    UnlinkAll(options, *device.server, silent);
    if (options.printTranscript) {
        const std::string text = device.server->WithDevice(
            [](q218::sim::SimulatedQ218& d) { return q218::sim::Describe(d.Transcript()); });
        std::fputs(text.c_str(), stderr);
    }
    return linked ? 0 : 1;
}
