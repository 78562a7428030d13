// The console update against the wire limit, beside the window's (q218-bench-wire): the same
// paced simulated Q218 on a pseudo-terminal, driven as q218-flash drives it: the window logic
// on the console view (QtCore only, no display) over the QSerialPort link, its progress lines
// written as into a log. Prints the wire bound, the measured time from the click to
// "Update complete!", their ratio and the updater thread's CPU share of it.
// Usage: q218-bench-console [write-time-us-per-word]

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchSupport.h"
#include "ConsoleLines.h"
#include "WireCount.h"
#include "app/Main.h"
#include "ConsoleView.h"
#include "link/qt/QtSerialLink.h"
#include "sim/PtyServer.h"

int main(int argc, char** argv) {
    using namespace q218;
    using namespace q218::bench;
    const std::chrono::microseconds writeTime(argc > 1 ? std::atoi(argv[1]) : 1000);
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    const std::vector<int> threads = UpdaterThreads();

    const std::unique_ptr<sim::PtyServer> device = PacedDevice(writeTime);
    if (!device) {
        return 1;
    }
    sim::PtyServer& server = *device;
    const std::string slave = server.SlavePath();

    std::FILE* log = std::fopen("/dev/null", "w");
    flash::ConsoleLines lines(log, false);
    ConsoleView console(lines);
    WatchedView view(console);
    QtSerialLink link([&](std::int16_t port) { return port == 1 ? slave : ""; });
    SteadyClock clock;
    Main window(view, link, clock);
    window.Form_Load();
    const bool found = window.Port_Connect(1, slave).IsQ218();
    window.Serial_Settle();
    if (!found || window.SerialWritten().empty()) {
        std::fprintf(stderr, "the simulated device did not answer on %s\n", slave.c_str());
        return 1;
    }
    const DownloadResult& run = window.LastUpdate();
    lines.Follow(run);

    Seconds wallAtEnd{};
    Seconds cpuAtEnd{};
    ThreadsUsage usageAtEnd;
    // The message that follows the end bytes marks the end of the transfer.
    view.onMessage = [&](std::string_view /*text*/) {
        if (run.endSent && wallAtEnd == Seconds{}) {
            wallAtEnd = WallNow();
            cpuAtEnd = ThreadCpu();
            usageAtEnd = UsageOf(threads);
        }
    };
    const ThreadsUsage usageStart = UsageOf(threads);
    const Seconds cpuStart = ThreadCpu();
    const Seconds wallStart = WallNow();
    window.cmdUpdate_Click();
    if (run.ending != DownloadEnding::Finished || wallAtEnd == Seconds{}) {
        std::fprintf(stderr, "the update did not finish\n");
        return 1;
    }

    WireCount count = server.WithDevice(
        [](sim::SimulatedQ218& device) { return CountDownload(device.Transcript()); });
    const double bound = WireBoundSeconds(count, writeTime);
    const double measured = (wallAtEnd - wallStart).count();
    const double cpu = (cpuAtEnd - cpuStart).count();
    Row("console: wire-time bound (bytes x 10 / 9600 + write time)", Fixed(bound, "s"), "-");
    Row("console: measured, reset command to \"Update complete!\"", Fixed(measured, "s"), "-");
    Row("console: measured / bound", Fixed(measured / bound, "", 4), "<= 1.02");
    Row("console: updater CPU share of the measured time", Fixed(100.0 * cpu / measured, "%", 2),
        "<= 1 %");
    CpuShareRow("q218-flash, " + std::to_string(threads.size()) + " threads",
                (usageAtEnd - usageStart).cpu, bound);
    std::vector<double>& gaps = count.replyToFrameMs;
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    Row("console: reply to next frame, median", Fixed(gaps[gaps.size() / 2], "ms", 3), "<= 0.3 ms");
    Row("console: frames sent / sent again after BEL",
        std::to_string(run.framesSent) + " / " + std::to_string(run.framesResent), "-");
    return 0;
}
