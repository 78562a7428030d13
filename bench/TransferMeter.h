#pragma once
// The wire benchmarks' one measurement of a transfer (the window's, q218-bench-wire, and
// q218-flash's, q218-bench-console): wall time, the updater thread's CPU time and all its
// threads' usage from just before the click to the message that follows the end bytes, and
// the rows that hold them against the wire bound.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "WireCount.h"
#include "download/DownloadRun.h"

namespace q218::bench {

// The program's first argument: the simulated device's flash write time per word, in
// microseconds (1000 without it).
inline std::chrono::microseconds WriteTimeArgument(int argc, char** argv) {
    return std::chrono::microseconds(argc > 1 ? std::atoi(argv[1]) : 1000);
}

class TransferMeter {
public:
    // Watches `view`'s message line while `progress` is kept up to date by the run; `atEnd`
    // takes a benchmark's own figures at the same moment as the meter's.
    TransferMeter(
        WatchedView& view, const DownloadResult& progress, std::vector<int> threads,
        std::function<void()> atEnd = [] {})
        : m_threads(std::move(threads)) {
        // The message that follows the end bytes marks the end of the transfer.
        view.onMessage = [this, &progress, atEnd = std::move(atEnd)](std::string_view) {
            if (progress.endSent && !Ended()) {
                m_wallAtEnd = WallNow();
                m_cpuAtEnd = ThreadCpu();
                m_usageAtEnd = UsageOf(m_threads);
                atEnd();
            }
        };
    }

    // Just before the click.
    void Start() {
        m_usageStart = UsageOf(m_threads);
        m_cpuStart = ThreadCpu();
        m_wallStart = WallNow();
    }

    bool Ended() const { return m_wallAtEnd != Seconds{}; }
    Seconds WallStart() const { return m_wallStart; }
    double Measured() const { return (m_wallAtEnd - m_wallStart).count(); }
    double Cpu() const { return (m_cpuAtEnd - m_cpuStart).count(); }
    ThreadsUsage Used() const { return m_usageAtEnd - m_usageStart; }
    std::size_t Threads() const { return m_threads.size(); }

private:
    std::vector<int> m_threads;
    Seconds m_wallStart{};
    Seconds m_cpuStart{};
    ThreadsUsage m_usageStart;
    Seconds m_wallAtEnd{};
    Seconds m_cpuAtEnd{};
    ThreadsUsage m_usageAtEnd;
};

// The bound, the measured time, their ratio and the updater thread's CPU share, each row
// named after `face` ("pty", "console").
inline void TransferRows(std::string_view face, double bound, const TransferMeter& meter) {
    const std::string f(face);
    Row(f + ": wire-time bound (bytes x 10 / 9600 + write time)", Fixed(bound, "s"), "-");
    Row(f + ": measured, reset command to \"Update complete!\"", Fixed(meter.Measured(), "s"), "-");
    Row(f + ": measured / bound", Fixed(meter.Measured() / bound, "", 4), "<= 1.02");
    Row(f + ": updater CPU share of the measured time",
        Fixed(100.0 * meter.Cpu() / meter.Measured(), "%", 2), "<= 1 %");
}

// The median time from a reply ("T" or BEL) to the first byte of the next frame.
inline void ReplyToFrameRow(std::string_view face, WireCount& count) {
    std::vector<double>& gaps = count.replyToFrameMs;
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
    Row(std::string(face) + ": reply to next frame, median", Fixed(gaps[gaps.size() / 2], "ms", 3),
        "<= 0.3 ms");
}

}  // namespace q218::bench
