// A device that floods its port (the real window and QSerialPort link, a pseudo-terminal):
// it answers the query, then, once the reset command comes, sends junk (no space, no ENQ) as
// fast as the line takes it through the wait for ENQ, and a person then ends the program.
// The end must come while the flood goes on: a wait that reads junk without ever handling
// the window's events would end only when the device stops (after a minute here).

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "link/PseudoTerminal.h"
#include "link/qt/QtSerialLink.h"

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer keeps freed memory in quarantine (256 MB by default), which this test
// would count as the updater's: a small quarantine keeps the memory bound measurable.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=4";
}
#endif

namespace q218 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("VmRSS:", 0) != 0) {
    }
    return line.empty() ? -1 : std::stol(line.substr(6));
}

TEST(FloodTest, MemoryStaysBoundedAndTheWindowStillEndsTheProgram) {
    const std::pair<const char*, std::function<void(QtUpdaterView&)>> rows[] = {
        {"Exit", [](QtUpdaterView& v) { v.findChild<QPushButton*>("cmdExit")->click(); }},
        {"the window's close", [](QtUpdaterView& v) { v.close(); }},
    };
    for (const auto& [name, end] : rows) {
        SCOPED_TRACE(name);
        test::PseudoTerminal pty;
        ASSERT_TRUE(pty.Valid());
        QtSerialLink link([&pty](std::int16_t n) { return n == 1 ? pty.SlaveName() : ""; });
        SteadyClock clock;
        QtUpdaterView view;
        Main window(view, link, clock);
        view.SetEvents(&window);
        view.show();
        view.Dispatch([&window] { window.Form_Load(); });
        const long startKb = ResidentKb();

        // The device, on a thread of its own; it also samples the process's memory.
        std::atomic<bool> stop{false};
        std::atomic<long> peakKb{0};
        std::atomic<bool> endRequested{false};
        std::atomic<bool> floodGaveUp{false};
        std::thread device([&] {
            while (!stop && pty.Read(10ms).find("990\r") == std::string::npos) {
            }
            pty.Write("123456 Q218 R04.5 2021-11-02 ");
            while (!stop && pty.Read(10ms).find("977\r") == std::string::npos) {
            }
            ::fcntl(pty.MasterFd(), F_SETFL, O_NONBLOCK);
            const std::string junk(64 * 1024, 'x');
            const auto giveUpAt = Clock::now() + 60s;
            for (std::size_t sent = 0; !stop;) {
                if (Clock::now() > giveUpAt) {
                    floodGaveUp = true;
                    break;
                }
                peakKb = std::max(peakKb.load(), ResidentKb());
                pollfd fd{pty.MasterFd(), POLLOUT, 0};
                ::poll(&fd, 1, 10);
                const ssize_t n = ::write(pty.MasterFd(), junk.data(), junk.size());
                if (n > 0 && (sent += static_cast<std::size_t>(n)) >= 50'000'000 &&
                    !endRequested.exchange(true)) {
                    QMetaObject::invokeMethod(
                        qApp, [&] { end(view); }, Qt::QueuedConnection);
                }
            }
        });

        view.findChild<QPushButton*>("cmdOK")->click();
        EXPECT_EQ(view.GetPanelText("dat"), "2021-11-02");
        view.findChild<QPushButton*>("cmdUpdate")->click();  // returns once the program ended
        stop = true;
        device.join();

        EXPECT_TRUE(view.ProgramHasEnded());
        EXPECT_TRUE(endRequested) << "the flood did not get through";
        EXPECT_FALSE(floodGaveUp) << "the end waited for the flood to stop";
        EXPECT_LE(peakKb - startKb, 32 * 1024) << "kB above the start";
    }
}

}  // namespace
}  // namespace q218
