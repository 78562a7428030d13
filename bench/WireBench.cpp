// A whole update against the wire limit: the simulated Q218 on a pseudo-terminal, paced like
// a 9600-baud 8N1 line with a flash write time per program word, driven through the real
// QSerialPort link and the real window's ProcessEvents (offscreen). Prints the time the line
// and the device force (every byte both ways at ten bit times, plus the write time), the
// measured time, their ratio, and the updater thread's CPU time as a share of it.
// Usage: q218-bench-wire [write-time-us-per-word] [hidden]
// ("hidden" leaves the window unshown, so that nothing is painted: the window's share of the
// CPU time is the difference between the two runs.)

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "PaintCount.h"
#include "TransferMeter.h"
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
    const std::chrono::microseconds writeTime = WriteTimeArgument(argc, argv);
    const auto application = BenchApplication(argv);
    QtUpdaterView window;
    const bool hidden = argc > 2 && std::string_view(argv[2]) == "hidden";
    if (!hidden) {
        window.show();
    }
    QApplication::processEvents();
    const std::vector<int> threads = UpdaterThreads();

    const std::unique_ptr<sim::PtyServer> server = PacedDevice(writeTime);
    const std::string slave = server->SlavePath();
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
    PaintCount fill(window, control::UpdateBarFG);
    long paintsAtEnd = 0;
    long callsAtEnd = 0;
    DownloadResult progress;
    TransferMeter meter(view, progress, threads, [&] {
        callsAtEnd = view.processEventsCalls;
        paintsAtEnd = fill.paints;
    });
    meter.Start();
    RunDownload(context, image, kDevicePort, fields, progress);
    const DownloadResult& result = progress;
    const Seconds wallClick = WallNow() - meter.WallStart();
    if (result.ending != DownloadEnding::Finished || !meter.Ended()) {
        std::fprintf(stderr, "the update did not finish\n");
        return 1;
    }

    WireCount count = CountDownload(*server);
    const double bound = WireBoundSeconds(count, writeTime);
    const double measured = meter.Measured();
    const ThreadsUsage used = meter.Used();
    Row("pty: platform", QApplication::platformName().toStdString(), "-");
    Row("pty: bytes on the line (both ways) / words written",
        std::to_string(count.bytes) + " / " + std::to_string(count.words), "-");
    Row("pty: write time per word", Fixed(static_cast<double>(writeTime.count()), "us", 0), "-");
    TransferRows("pty", bound, meter);
    Row("pty: CPU share of all " + std::to_string(threads.size()) + " updater threads",
        Fixed(100.0 * used.cpu.count() / measured, "%", 2), "<= 1 %");
    CpuShareRow("updater window, " + std::to_string(threads.size()) + " threads", used.cpu, bound);
    Row("pty: wake-ups (voluntary context switches) per frame",
        Fixed(static_cast<double>(used.wakeups) / static_cast<double>(count.frames), "", 2), "-");
    ReplyToFrameRow("pty", count);
    Row("pty: updater CPU per image line",
        Fixed(meter.Cpu() / static_cast<double>(image.size()) * 1e6, "us", 1), "-");
    Row("pty: ProcessEvents calls during the transfer", std::to_string(callsAtEnd), "-");
    Row("pty: paints of the progress fill a second",
        Fixed(static_cast<double>(paintsAtEnd) / measured, "/s", 1), "-");
    Row("pty: whole click (+ settle delay and identification)", Fixed(wallClick.count(), "s"), "-");
    return 0;
}
