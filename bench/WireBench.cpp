// A whole update against the wire limit: the simulated Q218 on a pseudo-terminal, paced like
// a 9600-baud 8N1 line with a flash write time per program word, driven through the real
// QSerialPort link and the real window's ProcessEvents (offscreen). Prints the time the line
// and the device force (every byte both ways at ten bit times, plus the write time), the
// measured time, their ratio, and the updater thread's CPU time as a share of it.
// Usage: q218-bench-wire [write-time-us-per-word] [hidden]
// ("hidden" leaves the window unshown, so that nothing is painted: the window's share of the
// CPU time is the difference between the two runs.)

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "PaintCount.h"
#include "WireCount.h"
#include "app/qt/ControlNames.h"
#include "app/qt/QtUpdaterView.h"
#include "download/DownloadRun.h"
#include "image/FirmwareImage.h"
#include "link/qt/QtSerialLink.h"
#include "sim/PtyServer.h"

namespace q218::bench {
namespace {

constexpr std::int16_t kDevicePort = 3;
}  // namespace
}  // namespace q218::bench

int main(int argc, char** argv) {
    using namespace q218;
    using namespace q218::bench;
    const std::chrono::microseconds writeTime(argc > 1 ? std::atoi(argv[1]) : 1000);
    const auto application = BenchApplication(argv);
    QtUpdaterView window;
    const bool hidden = argc > 2 && std::string_view(argv[2]) == "hidden";
    if (!hidden) {
        window.show();
    }
    QApplication::processEvents();
    const std::vector<int> threads = UpdaterThreads();

    const std::unique_ptr<sim::PtyServer> device = PacedDevice(writeTime);
    if (!device) {
        return 1;
    }
    sim::PtyServer& server = *device;
    const std::string slave = server.SlavePath();
    QtSerialLink link([&](std::int16_t port) { return port == kDevicePort ? slave : ""; });
    WatchedView view(window);
    SteadyClock clock;
    LinkContext context{link, view, clock};
    ReplyFields fields{};
    // Fills the panels as the connect step does.
    if (!Detect(context, kDevicePort, fields).IsQ218()) {
        std::fprintf(stderr, "the simulated device did not answer on %s\n", slave.c_str());
        return 1;
    }

    FirmwareImage image = PreparedImage();
    Seconds wallAtEnd{};
    PaintCount fill(window, control::UpdateBarFG);
    long paintsAtEnd = 0;
    Seconds cpuAtEnd{};
    long callsAtEnd = 0;
    ThreadsUsage usageAtEnd;
    // The message that follows the end bytes marks the end of the transfer.
    DownloadResult progress;
    view.onMessage = [&](std::string_view /*text*/) {
        if (progress.endSent && wallAtEnd == Seconds{}) {
            wallAtEnd = WallNow();
            cpuAtEnd = ThreadCpu();
            usageAtEnd = UsageOf(threads);
            callsAtEnd = view.processEventsCalls;
            paintsAtEnd = fill.paints;
        }
    };
    const ThreadsUsage usageStart = UsageOf(threads);
    const Seconds cpuStart = ThreadCpu();
    const Seconds wallStart = WallNow();
    const DownloadResult result = cmdUpdate_Click(context, image, kDevicePort, fields, progress);
    const Seconds wallClick = WallNow() - wallStart;
    if (result.ending != DownloadEnding::Finished || wallAtEnd == Seconds{}) {
        std::fprintf(stderr, "the update did not finish\n");
        return 1;
    }

    WireCount count = server.WithDevice(
        [](sim::SimulatedQ218& device) { return CountDownload(device.Transcript()); });
    const double bound = WireBoundSeconds(count, writeTime);
    const double measured = (wallAtEnd - wallStart).count();
    const double cpu = (cpuAtEnd - cpuStart).count();

    const ThreadsUsage used = usageAtEnd - usageStart;
    Row("pty: platform", QApplication::platformName().toStdString(), "-");
    Row("pty: bytes on the line (both ways) / words written",
        std::to_string(count.bytes) + " / " + std::to_string(count.words), "-");
    Row("pty: write time per word", Fixed(static_cast<double>(writeTime.count()), "us", 0), "-");
    Row("pty: wire-time bound (bytes x 10 / 9600 + write time)", Fixed(bound, "s"), "-");
    Row("pty: measured, reset command to \"Update complete!\"", Fixed(measured, "s"), "-");
    Row("pty: measured / bound", Fixed(measured / bound, "", 4), "<= 1.02");
    Row("pty: updater CPU share of the measured time", Fixed(100.0 * cpu / measured, "%", 2),
        "<= 1 %");
    Row("pty: CPU share of all " + std::to_string(threads.size()) + " updater threads",
        Fixed(100.0 * used.cpu.count() / measured, "%", 2), "<= 1 %");
    CpuShareRow("updater window, " + std::to_string(threads.size()) + " threads", used.cpu, bound);
    Row("pty: wake-ups (voluntary context switches) per frame",
        Fixed(static_cast<double>(used.wakeups) / static_cast<double>(count.frames), "", 2), "-");
    std::vector<double>& gaps = count.replyToFrameMs;
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    Row("pty: reply to next frame, median", Fixed(gaps[gaps.size() / 2], "ms", 3), "<= 0.3 ms");
    Row("pty: updater CPU per image line",
        Fixed(cpu / static_cast<double>(image.size()) * 1e6, "us", 1), "-");
    Row("pty: ProcessEvents calls during the transfer", std::to_string(callsAtEnd), "-");
    Row("pty: paints of the progress fill a second",
        Fixed(static_cast<double>(paintsAtEnd) / measured, "/s", 1), "-");
    Row("pty: whole click (+ settle delay and identification)", Fixed(wallClick.count(), "s"), "-");
    return 0;
}
