#pragma once
// What the benchmark programs share: the CPU clocks, a window decorator that notes when the
// download reports its end, and the one row format that scripts/bench prints as a table.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/UpdaterView.h"
#include "image/FirmwareImage.h"

namespace q218::bench {

using Seconds = std::chrono::duration<double>;

// The program's one optional argument, a count (runs, samples, microseconds): `fallback`
// without it, and never below `least`.
inline int CountArgument(int argc, char** argv, int fallback, int least) {
    return argc > 1 ? std::max(least, std::atoi(argv[1])) : fallback;
}

// CPU time of the calling thread: the updater's own work, without the simulated device's
// server thread.
inline Seconds ThreadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return Seconds(static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9);
}

inline Seconds WallNow() {
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch());
}

// The embedded image as the window has it before "&Update": tag line marked, serial patched.
inline FirmwareImage PreparedImage() {
    FirmwareImage image = Image_Build();
    // Only the marked lines matter here: the download drops them.
    static_cast<void>(Tag_Read(image));
    if (Serial_Patch(image, "123456") != PatchResult::Replaced) {
        std::fprintf(stderr, "the image has no serial record\n");
        std::exit(1);
    }
    return image;
}

// The updater's threads: every thread of this process at the moment of the call. Taken before
// the simulated device's server starts, so that the device's thread is not counted; under
// the xcb platform it includes Qt's X event reader.
inline std::vector<int> UpdaterThreads() {
    std::vector<int> ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.push_back(std::stoi(task.path().filename().string()));
    }
    return ids;
}

// What the updater's threads have used so far: CPU time (the scheduler's own count, in
// nanoseconds) and voluntary context switches, each one a sleep that something woke.
struct ThreadsUsage {
    Seconds cpu{};
    long wakeups = 0;
};

inline ThreadsUsage UsageOf(const std::vector<int>& threads) {
    ThreadsUsage usage;
    for (int id : threads) {
        const std::string task = "/proc/self/task/" + std::to_string(id);
        std::ifstream schedstat(task + "/schedstat");
        double runNs = 0;
        if (schedstat >> runNs) {
            usage.cpu += Seconds(runNs * 1e-9);
        }
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                usage.wakeups += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return usage;
}

inline ThreadsUsage operator-(const ThreadsUsage& end, const ThreadsUsage& start) {
    return {end.cpu - start.cpu, end.wakeups - start.wakeups};
}

// One row of the table: what was measured, the figure, the target it is held against.
inline void Row(std::string_view what, const std::string& value, std::string_view target) {
    std::printf("%-58s %16s %12s\n", std::string(what).c_str(), value.c_str(),
                std::string(target).c_str());
    std::fflush(stdout);
}

inline std::string Fixed(double value, const char* unit, int decimals = 3) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
    return text;
}

// The row scripts/bench-cpu puts side by side for the window, q218-flash and the floor: CPU
// time of all the program's own threads during the transfer, over the transfer's wire-time
// bound, so that the three share one denominator whatever each one's own duration.
inline void CpuShareRow(std::string_view face, Seconds cpu, double boundSeconds) {
    Row("cpu: " + std::string(face), Fixed(100.0 * cpu.count() / boundSeconds, "%", 2), "<= 1 %");
}

// Passes every operation to the real (or fake) window and lets a benchmark watch the
// message line and every ProcessEvents.
class WatchedView final : public UpdaterView {
public:
    explicit WatchedView(UpdaterView& inner) : m_inner(inner) {}

    // Called when Text2 is set, with the new text.
    std::function<void(std::string_view)> onMessage;
    // Called before each wait (ProcessEvents or ProcessEventsFor); may throw ProgramEnded to end a
    // wait.
    std::function<void()> onProcessEvents;
    long processEventsCalls = 0;

    void SetText(TextBox box, std::string_view text) override {
        m_inner.SetText(box, text);
        if (box == TextBox::Text2 && onMessage) {
            onMessage(text);
        }
    }
    std::string GetText(TextBox box) const override { return m_inner.GetText(box); }
    void SetVisible(TextBox box, bool visible) override { m_inner.SetVisible(box, visible); }
    bool IsVisible(TextBox box) const override { return m_inner.IsVisible(box); }
    void SetEnabled(Button button, bool enabled) override { m_inner.SetEnabled(button, enabled); }
    void SetFocus(FocusTarget target) override { m_inner.SetFocus(target); }
    void SetDetail(TextBox box, std::string_view text) override { m_inner.SetDetail(box, text); }
    void SetPanelText(std::string_view key, std::string_view text) override {
        m_inner.SetPanelText(key, text);
    }
    std::string GetPanelText(std::string_view key) const override {
        return m_inner.GetPanelText(key);
    }
    void SetProgress(float fraction) override { m_inner.SetProgress(fraction); }
    void SetProgressBackground(Rgb colour) override { m_inner.SetProgressBackground(colour); }
    void Beep() override { m_inner.Beep(); }
    void ShowMessageBox(std::string_view text) override {
        std::fprintf(stderr, "message box: %s\n", std::string(text).c_str());
    }
    void ProcessEvents() override {
        ++processEventsCalls;
        if (onProcessEvents) {
            onProcessEvents();
        }
        m_inner.ProcessEvents();
    }
    void ProcessEventsFor(std::chrono::nanoseconds limit) override {
        ++processEventsCalls;
        if (onProcessEvents) {
            onProcessEvents();
        }
        m_inner.ProcessEventsFor(limit);
    }

private:
    UpdaterView& m_inner;
};

}  // namespace q218::bench
