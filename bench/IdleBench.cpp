// The updater at rest: its CPU share while the settle delay runs and while the download
// waits for the bootloader's ENQ, and how soon a byte written to the serial line comes out
// of Input (median and 95th percentile), all through the real window's ProcessEvents
// (offscreen) and the QSerialPort link on a pseudo-terminal.
// Usage: q218-bench-idle [reaction-samples]

#include <QApplication>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "app/qt/QtUpdaterView.h"
#include "download/DownloadRun.h"
#include "image/FirmwareImage.h"
#include "link/SettleDelay.h"
#include "link/qt/QtSerialLink.h"
#include "sim/Pty.h"
#include "sim/PtyServer.h"

namespace q218::bench {
namespace {

using namespace std::chrono_literals;

constexpr std::int16_t kPort = 1;
constexpr Seconds kEnqWait{5.0};

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[index];
}

// The share of a core all the updater's threads used since `start`, and their wake-ups a
// second.
void UsageRows(const std::vector<int>& threads, const std::string& what, const ThreadsUsage& start,
               double wall) {
    const ThreadsUsage used = UsageOf(threads) - start;
    Row(what + ": CPU share of all updater threads", Fixed(100.0 * used.cpu.count() / wall, "%", 3),
        "<= 0.2 %");
    Row(what + ": wake-ups a second", Fixed(static_cast<double>(used.wakeups) / wall, "/s", 1),
        "-");
}

// 1. The settle delay, three times.
void SettleDelayRows(WatchedView& view, const MonotonicClock& clock,
                     const std::vector<int>& threads) {
    const ThreadsUsage usageStart = UsageOf(threads);
    const Seconds cpuStart = ThreadCpu();
    const Seconds wallStart = WallNow();
    for (int i = 0; i < 3; ++i) {
        SettleDelay(clock, view);
    }
    const double wall = (WallNow() - wallStart).count();
    const double cpu = (ThreadCpu() - cpuStart).count();
    Row("idle: CPU share during the settle delay (3 x)", Fixed(100.0 * cpu / wall, "%", 3),
        "<= 0.2 %");
    UsageRows(threads, "idle: settle delay", usageStart, wall);
    Row("idle: ProcessEvents calls per second of settle delay",
        Fixed(static_cast<double>(view.processEventsCalls) / wall, "/s", 0), "-");
}

// 2. The download waiting for ENQ from a device that never sends it. False when it could not
// be measured.
bool EnqWaitRows(WatchedView& view, const MonotonicClock& clock, const std::vector<int>& threads) {
    sim::PtyServer::Created created = sim::PtyServer::Create(sim::PreviousFirmware{});
    if (!created.server) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", created.error.c_str());
        return false;
    }
    created.server->WithDevice([](sim::SimulatedQ218& device) { device.SilentBeforeEnq(); });
    const std::string slave = created.server->SlavePath();
    QtSerialLink link([&](std::int16_t port) { return port == kPort ? slave : ""; });
    LinkContext context{link, view, clock};
    FirmwareImage image = Image_Build();
    ReplyFields fields{};
    view.SetPanelText(kPanelRevision, "R04.5");
    Seconds waitStart{};
    Seconds cpuStart{};
    ThreadsUsage usageStart;
    view.onMessage = [&](std::string_view) {
        waitStart = WallNow();
        cpuStart = ThreadCpu();
        usageStart = UsageOf(threads);
    };
    // The technician gives up: the same way out as Exit, from inside the wait.
    view.onProcessEvents = [&] {
        if (waitStart != Seconds{} && WallNow() - waitStart >= kEnqWait) {
            throw ProgramEnded{};
        }
    };
    try {
        // The wait only ends by ProgramEnded, so the account is not read.
        DownloadResult progress;
        RunDownload(context, image, kPort, fields, progress);
        std::fprintf(stderr, "the wait for ENQ ended by itself\n");
        return false;
    } catch (const ProgramEnded&) {
    }
    const double wall = (WallNow() - waitStart).count();
    const double cpu = (ThreadCpu() - cpuStart).count();
    Row("idle: CPU share waiting for ENQ (5 s)", Fixed(100.0 * cpu / wall, "%", 3), "<= 0.2 %");
    UsageRows(threads, "idle: waiting for ENQ", usageStart, wall);
    view.onMessage = nullptr;
    view.onProcessEvents = nullptr;
    return true;
}

// 3. Reaction: a byte written to the line at a random moment, until Input returns it. False
// when it could not be measured.
bool ReactionRows(WatchedView& view, int samples) {
    // A bare pseudo-terminal whose master side this program writes itself; the held slave
    // keeps the line up while the link closes and opens it.
    const sim::Pty pty(sim::Pty::Slave::Held);
    if (!pty.Valid()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return false;
    }
    QtSerialLink link([&](std::int16_t port) { return port == kPort ? pty.SlavePath() : ""; });
    link.SetCommPort(kPort);
    link.SetInputLen(1);
    link.SetSettings(kLineSettings);
    if (!link.SetPortOpen(true)) {
        std::fprintf(stderr, "cannot open %s\n", pty.SlavePath().c_str());
        return false;
    }
    std::vector<std::atomic<double>> writtenAt(static_cast<std::size_t>(samples));
    std::thread writer([&] {
        std::mt19937 random(218);
        std::uniform_int_distribution<int> pause(2000, 15000);
        for (auto& at : writtenAt) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
            at.store(WallNow().count());
            const char byte = 'T';
            if (write(pty.Master(), &byte, 1) != 1) {
                std::perror("write");
            }
        }
    });
    std::vector<double> reaction;
    const Seconds cpuStart = ThreadCpu();
    const Seconds wallStart = WallNow();
    for (auto& at : writtenAt) {
        while (link.InBufferCount() == 0) {
            view.ProcessEvents();
        }
        const std::string got = link.Input();
        const double now = WallNow().count();
        if (got != "T") {
            std::fprintf(stderr, "unexpected input\n");
        }
        reaction.push_back((now - at.load()) * 1e3);
    }
    const double cpu = (ThreadCpu() - cpuStart).count();
    const double wall = (WallNow() - wallStart).count();
    writer.join();
    Row("reaction: byte written to Input returning it, median",
        Fixed(Percentile(reaction, 0.5), "ms", 3), "< 1 ms");
    Row("reaction: 95th percentile (" + std::to_string(samples) + " bytes)",
        Fixed(Percentile(reaction, 0.95), "ms", 3), "-");
    Row("reaction: CPU share while waiting for the bytes", Fixed(100.0 * cpu / wall, "%", 2), "-");
    return true;
}

}  // namespace
}  // namespace q218::bench

int main(int argc, char** argv) {
    using namespace q218::bench;
    const int samples = CountArgument(argc, argv, 300, 10);
    const auto application = BenchApplication(argv);
    q218::QtUpdaterView window;
    ShowAndPaint(window);
    const std::vector<int> threads = UpdaterThreads();
    WatchedView view(window);
    q218::SteadyClock clock;
    Row("idle: platform", QApplication::platformName().toStdString(), "-");
    SettleDelayRows(view, clock, threads);
    return EnqWaitRows(view, clock, threads) && ReactionRows(view, samples) ? 0 : 1;
}
