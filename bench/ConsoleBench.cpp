// The console update against the wire limit, beside the window's (q218-bench-wire): the same
// paced simulated Q218 on a pseudo-terminal, driven as q218-flash drives it: the window logic
// on the console view (QtCore only, no display) over the QSerialPort link, its progress lines
// written as into a log. Prints the wire bound, the measured time from the click to
// "Update complete!", their ratio and the updater thread's CPU share of it.
// Usage: q218-bench-console [write-time-us-per-word]

#include <QCoreApplication>

#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "ConsoleLines.h"
#include "ConsoleView.h"
#include "TransferMeter.h"
#include "WireCount.h"
#include "app/Main.h"
#include "link/qt/QtSerialLink.h"
#include "sim/PtyServer.h"

int main(int argc, char** argv) {
    using namespace q218;
    using namespace q218::bench;
    const std::chrono::microseconds writeTime = WriteTimeArgument(argc, argv);
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    const std::vector<int> threads = UpdaterThreads();

    const std::unique_ptr<sim::PtyServer> server = PacedDevice(writeTime);
    const std::string slave = server->SlavePath();

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

    TransferMeter meter(view, run, threads);
    meter.Start();
    window.cmdUpdate_Click();
    if (run.ending != DownloadEnding::Finished || !meter.Ended()) {
        std::fprintf(stderr, "the update did not finish\n");
        return 1;
    }

    WireCount count = CountDownload(*server);
    const double bound = WireBoundSeconds(count, writeTime);
    TransferRows("console", bound, meter);
    CpuShareRow("q218-flash, " + std::to_string(meter.Threads()) + " threads", meter.Used().cpu,
                bound);
    ReplyToFrameRow("console", count);
    Row("console: frames sent / sent again after BEL",
        std::to_string(run.framesSent) + " / " + std::to_string(run.framesResent), "-");
    return 0;
}
