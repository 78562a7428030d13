// The updater's own CPU time per image line: whole downloads of the embedded image against
// the simulated Q218 in memory, replies instant, repeated many times. The time spent inside
// the serial line (and so inside the simulated device) is measured apart and taken off.
// Usage: q218-bench-overhead [runs]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "download/DownloadRun.h"
#include "image/FirmwareImage.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/FakeView.h"

namespace q218::bench {
namespace {

// Passes every call to the in-memory line and adds up the time spent inside it, which is
// the line's and the simulated device's work, not the updater's.
class TimedLink final : public SerialLink {
public:
    explicit TimedLink(SerialLink& inner) : m_inner(inner) {}

private:
    template <typename Call>
    auto Time(Call call) const -> decltype(call()) {
        const auto start = std::chrono::steady_clock::now();
        auto result = call();
        m_inside += std::chrono::steady_clock::now() - start;
        return result;
    }

public:
    std::chrono::nanoseconds Inside() const { return m_inside; }

    bool PortOpen() const override {
        return Time([&] { return m_inner.PortOpen(); });
    }
    OpenResult SetPortOpen(bool open) override {
        return Time([&] { return m_inner.SetPortOpen(open); });
    }
    void SetCommPort(std::int16_t port) override { m_inner.SetCommPort(port); }
    void SetInputLen(int length) override { m_inner.SetInputLen(length); }
    void SetSettings(const LineSettings& settings) override { m_inner.SetSettings(settings); }
    void Output(std::string_view bytes) override {
        Time([&] {
            m_inner.Output(bytes);
            return 0;
        });
    }
    std::string Input() override {
        return Time([&] { return m_inner.Input(); });
    }
    int InBufferCount() const override {
        return Time([&] { return m_inner.InBufferCount(); });
    }
    bool LineLost() const override {
        return Time([&] { return m_inner.LineLost(); });
    }

private:
    SerialLink& m_inner;
    mutable std::chrono::nanoseconds m_inside{};
};

}  // namespace
}  // namespace q218::bench

int main(int argc, char** argv) {
    using namespace q218;
    using namespace q218::bench;
    const int runs = CountArgument(argc, argv, 300, 1);
    const FirmwareImage prepared = PreparedImage();
    const double lines = static_cast<double>(prepared.size() - 1);  // the tag line is dropped

    std::vector<double> own;  // updater's CPU per line, microseconds, transfer only
    std::vector<double> line;
    std::vector<double> both;  // thread CPU of updater and device together
    for (int run = 0; run < runs; ++run) {
        sim::FakeClock clock;
        sim::SimulatedQ218 device(clock, sim::PreviousFirmware{});
        sim::InMemoryLink memory;
        memory.Attach(3, device);
        TimedLink link(memory);
        test::FakeView fake(clock);
        WatchedView view(fake);
        view.SetPanelText(kPanelRevision, "R04.5");
        LinkContext context{link, view, clock};
        FirmwareImage image = prepared;
        ReplyFields fields{};

        // Both parts on the same clock, so that the difference is the updater's share; a
        // run that the machine interrupted is slow in both and falls out of the median.
        Seconds wallAtEnd{};
        Seconds cpuAtEnd{};
        std::chrono::nanoseconds insideAtEnd{};
        // The message that follows the end bytes marks the end of the transfer.
        DownloadResult progress;
        view.onMessage = [&](std::string_view /*text*/) {
            if (progress.endSent && wallAtEnd == Seconds{}) {
                wallAtEnd = WallNow();
                cpuAtEnd = ThreadCpu();
                insideAtEnd = link.Inside();
            }
        };
        const Seconds cpuStart = ThreadCpu();
        const Seconds wallStart = WallNow();
        RunDownload(context, image, 3, fields, progress);
        const DownloadResult& result = progress;
        if (result.ending != DownloadEnding::Finished || wallAtEnd == Seconds{}) {
            std::fprintf(stderr, "run %d did not finish\n", run);
            return 1;
        }
        const double total = (wallAtEnd - wallStart).count();
        const double inside = std::chrono::duration<double>(insideAtEnd).count();
        own.push_back((total - inside) / lines * 1e6);
        line.push_back(inside / lines * 1e6);
        both.push_back((cpuAtEnd - cpuStart).count() / lines * 1e6);
    }
    std::sort(own.begin(), own.end());
    std::sort(line.begin(), line.end());
    std::sort(both.begin(), both.end());
    const auto median = [](const std::vector<double>& v) { return v[v.size() / 2]; };
    Row("in memory: updater's own time per image line (median of " + std::to_string(runs) + ")",
        Fixed(median(own), "us", 2), "-");
    Row("in memory: line + simulated device per image line", Fixed(median(line), "us", 2), "-");
    Row("in memory: both, thread CPU per image line", Fixed(median(both), "us", 2), "-");
    Row("in memory: updater's own time for the whole image",
        Fixed(median(own) * lines / 1000.0, "ms", 2), "-");
    return 0;
}
