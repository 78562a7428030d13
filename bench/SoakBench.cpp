// q218-soak: the long soak. Whole updates with devices and faults drawn from fresh seeds, in
// memory by the hundred thousand, then a few dozen through the real QSerialPort link to the
// simulated device on a pseudo-terminal, watching the updater's open file descriptors and
// memory from the first of those runs to the last. Prints the seed of every run that broke a
// check and the count per ending; exits 1 when any run broke one or the descriptors grew.

#include <malloc.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>

#include "link/qt/QtSerialLink.h"
#include "sim/PtyServer.h"
#include "support/Soak.h"

namespace q218::soak {
namespace {

constexpr std::int16_t kDevicePort = 3;

// One update through the real port on a pty served by the simulated device, on the machine's
// clock. QSerialPort's bytes arrive through the event loop; the nap keeps the waits off the CPU.
void RunOnPty(const Scenario& scenario, sim::PtyServer& server, Tally& tally) {
    QtSerialLink link([path = server.SlavePath()](std::int16_t port) {
        return port == kDevicePort ? path : std::string();
    });
    SteadyClock clock;
    sim::FakeClock viewClock;
    Rig rig{link, clock, viewClock, [&](const auto& action) { server.WithDevice(action); },
            [] {
                QCoreApplication::processEvents();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }};
    RunAndCheck(scenario, rig, tally);
}

// What the process holds: open descriptors, bytes allocated on the heap (run with
// GLIBC_TUNABLES=glibc.malloc.tcache_count=0, or the allocator's per-thread cache of freed
// blocks counts as allocated) and anonymous resident memory.
struct Holdings {
    long descriptors = 0;
    std::size_t heapBytes = 0;
    long anonymousKb = 0;
};

Holdings Measure() {
    Holdings held;
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    held.descriptors = std::distance(begin(entries), end(entries));
    held.heapBytes = mallinfo2().uordblks;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("RssAnon:", 0) == 0) {
            held.anonymousKb = std::stol(line.substr(8));
        }
    }
    return held;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* where, const Tally& tally, double seconds) {
    const long runs = std::accumulate(tally.endings.begin(), tally.endings.end(), 0L);
    std::printf("%s: %ld runs in %.1f s; %s\n", where, runs, seconds, tally.Counts().c_str());
    for (const std::string& broken : tally.broken) {
        std::printf("  BROKEN %s\n", broken.c_str());
    }
    std::fflush(stdout);
}

}  // namespace
}  // namespace q218::soak

int main(int argc, char** argv) {
    using namespace q218::soak;
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Soak of whole updates with random faults.");
    parser.addHelpOption();
    const QCommandLineOption runsOption("runs", "Runs in memory.", "N", "100000");
    const QCommandLineOption ptyOption("pty-runs", "Runs through QSerialPort on a pty.", "N", "50");
    const QCommandLineOption seedOption("first-seed", "First seed (default: a fresh one).", "SEED");
    parser.addOptions({runsOption, ptyOption, seedOption});
    parser.process(application);
    const std::uint64_t firstSeed = parser.isSet(seedOption)
                                        ? parser.value(seedOption).toULongLong()
                                        : std::random_device{}() * 1'000'003ULL;
    const long runs = parser.value(runsOption).toLong();
    const long ptyRuns = parser.value(ptyOption).toLong();
    std::printf("first seed %llu\n", static_cast<unsigned long long>(firstSeed));

    Tally memory;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < runs; ++i) {
        RunInMemory(Draw(firstSeed + static_cast<std::uint64_t>(i)), memory);
    }
    Report("in memory", memory, SecondsSince(start));

    // A device that stops answering costs the technician's minute of real time: left out.
    Tally pty;
    Holdings afterFirst;
    const auto ptyStart = std::chrono::steady_clock::now();
    for (long i = 0; i < ptyRuns; ++i) {
        const Scenario scenario = Draw(firstSeed + static_cast<std::uint64_t>(runs + i), false);
        q218::sim::PtyServer::Created created =
            q218::sim::PtyServer::Create(scenario.device.firmware);
        if (!created.server) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", created.error.c_str());
            return 1;
        }
        RunOnPty(scenario, *created.server, pty);
        created.server.reset();
        if (i == 0) {
            afterFirst = Measure();
        }
    }
    Report("through QSerialPort on a pty", pty, SecondsSince(ptyStart));
    if (ptyRuns == 0) {
        return memory.broken.empty() ? 0 : 1;
    }
    const Holdings last = Measure();
    std::printf(
        "after the first / last pty run: %ld / %ld open descriptors, %zu / %zu heap bytes"
        " in use, %ld / %ld kB anonymous resident memory\n",
        afterFirst.descriptors, last.descriptors, afterFirst.heapBytes, last.heapBytes,
        afterFirst.anonymousKb, last.anonymousKb);
    // The heap is reported, not held against the first run: a few hundred bytes are allocated
    // once, at the first run that ends in "Update Error.", and none after.
    const bool grew = last.descriptors > afterFirst.descriptors;
    return memory.broken.empty() && pty.broken.empty() && !grew ? 0 : 1;
}
