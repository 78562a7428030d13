// The floor under the window's CPU figure: the same window, shown, doing nothing but what an
// update makes it draw: the message line set once, the track turned black, and the progress
// fill moved once per image line, the lines spread evenly over the wire-time bound of a
// paced update, waiting in between as the download waits (ProcessEventsFor). No serial port,
// no device. The updater's share minus this one is what the transfer itself costs.
// Usage: q218-bench-floor [seconds] (default 11.272, the wire-time bound of the embedded image)

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "PaintCount.h"
#include "app/qt/ControlNames.h"
#include "app/qt/QtUpdaterView.h"
#include "image/FirmwareImage.h"

int main(int argc, char** argv) {
    using namespace q218;
    using namespace q218::bench;
    const Seconds duration(argc > 1 ? std::max(1.0, std::atof(argv[1])) : 11.272);
    const auto application = BenchApplication(argv);
    QtUpdaterView window;
    ShowAndPaint(window);
    const std::vector<int> threads = UpdaterThreads();

    // As many fill positions as the download shows: one per line left once the marked lines
    // are gone, at line index over last index.
    FirmwareImage image = PreparedImage();
    std::erase_if(image, [](const std::string& line) { return IsMarked(line); });
    const auto last = static_cast<long>(image.size()) - 1;

    PaintCount fill(window, control::UpdateBarFG);
    const ThreadsUsage usageStart = UsageOf(threads);
    const Seconds wallStart = WallNow();
    window.SetText(TextBox::Text2, "Updating...");
    window.SetProgressBackground(kBlack);
    for (long line = 0; line <= last; ++line) {
        window.SetProgress(
            static_cast<float>(static_cast<double>(line) / static_cast<double>(last)));
        const Seconds due =
            wallStart + duration * (static_cast<double>(line + 1) / static_cast<double>(last + 1));
        for (Seconds now = WallNow(); now < due; now = WallNow()) {
            window.ProcessEventsFor(
                std::chrono::duration_cast<std::chrono::nanoseconds>(due - now));
        }
    }
    const ThreadsUsage used = UsageOf(threads) - usageStart;
    const double wall = (WallNow() - wallStart).count();

    Row("floor: platform", QApplication::platformName().toStdString(), "-");
    Row("floor: fill positions shown / seconds",
        std::to_string(last + 1) + " / " + Fixed(wall, "s"), "-");
    Row("floor: paints of the progress fill a second",
        Fixed(static_cast<double>(fill.paints) / wall, "/s", 1), "-");
    CpuShareRow("floor (window animating the bar)", used.cpu, duration.count());
    return 0;
}
