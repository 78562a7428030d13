// The QSerialPort link over pseudo-terminals: the slave side is the serial port, the test
// plays the device on the master side.

#include "link/qt/QtSerialLink.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <vector>

#include <gtest/gtest.h>

#include "PseudoTerminal.h"
#include "link/Identification.h"
#include "sim/FakeClock.h"
#include "sim/PtyServer.h"
#include "sim/SimulatedQ218.h"
#include "support/FakeView.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;
using test::PseudoTerminal;

// Lets Qt's event loop run for a moment, blocking meanwhile, as the real window's
// ProcessEvents does.
void RunQtEventsBriefly() {
    QEventLoop loop;
    QTimer::singleShot(2ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A FakeView whose ProcessEvents also runs the Qt event loop, so QSerialPort delivers.
struct QtWindow {
    sim::FakeClock unusedClock;
    test::FakeView view{unusedClock};
    QtWindow() { view.OnProcessEvents(RunQtEventsBriefly); }
};

// Every COM number opens the same pty slave.
PortNameMap OnlyPort(const PseudoTerminal& pty) {
    return [name = pty.SlaveName()](std::int16_t) { return name; };
}

std::chrono::nanoseconds ProcessCpuTime() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto cpu = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return cpu(usage.ru_utime) + cpu(usage.ru_stime);
}

class QtSerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.Valid()) << "no pseudo-terminal available"; }

    bool Open() {
        link.SetCommPort(1);
        link.SetInputLen(0);
        link.SetSettings(kLineSettings);
        return link.SetPortOpen(true).Opened();
    }

    // Runs the event loop until `done` holds or `limit` has passed.
    template <typename Condition>
    void PumpUntil(Condition done, std::chrono::milliseconds limit = 2000ms) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            RunQtEventsBriefly();
        }
    }

    PseudoTerminal pty;
    QtSerialLink link{OnlyPort(pty)};
};

TEST_F(QtSerialLinkTest, OpensWithTheLineSettingsAndClosesAgain) {
    ASSERT_TRUE(Open());
    EXPECT_TRUE(link.PortOpen());
    EXPECT_FALSE(link.LineLost());

    // A pty's master shares the slave's terminal settings.
    termios settings{};
    ASSERT_EQ(::tcgetattr(pty.MasterFd(), &settings), 0);
    EXPECT_EQ(::cfgetospeed(&settings), B9600);
    EXPECT_EQ(::cfgetispeed(&settings), B9600);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & PARENB, 0U) << "parity enabled";
    EXPECT_EQ(settings.c_cflag & CSTOPB, 0U) << "two stop bits";
    EXPECT_EQ(settings.c_cflag & CRTSCTS, 0U) << "hardware flow control";
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0U) << "software flow control";

    EXPECT_TRUE(link.SetPortOpen(false));
    EXPECT_FALSE(link.PortOpen());
}

TEST_F(QtSerialLinkTest, OutputLeavesInTheNextPassOfTheEventLoopByteForByte) {
    ASSERT_TRUE(Open());
    // Every byte value is one character, NUL and bytes above 127 included. A frame is many
    // one-character Outputs: they wait for the event loop, then leave together, in order.
    const std::string bytes{'9', '9', '0', '\r', '\0', '\x7F', '\x80', '\xFF'};
    for (const char byte : bytes) {
        link.Output(std::string_view(&byte, 1));
    }
    EXPECT_EQ(pty.Read(0ms), "") << "written before the event loop ran";
    QCoreApplication::processEvents();
    EXPECT_EQ(pty.Read(1000ms), bytes);

    // What is still queued when the port closes goes out before the close.
    link.Output(":S");
    link.SetPortOpen(false);
    EXPECT_EQ(pty.Read(1000ms), ":S");
}

TEST_F(QtSerialLinkTest, InputReturnsWhatArrivedLimitedByInputLen) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(link.Input(), "") << "nothing received yet";
    EXPECT_EQ(link.InBufferCount(), 0);

    ASSERT_TRUE(pty.Write(std::string{'T', '\x07', '\0', '\xFE'}));
    PumpUntil([&] { return link.InBufferCount() >= 4; });
    EXPECT_EQ(link.InBufferCount(), 4);

    link.SetInputLen(1);
    EXPECT_EQ(link.Input(), "T");
    EXPECT_EQ(link.Input(), "\x07");
    EXPECT_EQ(link.InBufferCount(), 2);
    link.SetInputLen(0);
    EXPECT_EQ(link.Input(), std::string({'\0', '\xFE'}));
    EXPECT_EQ(link.Input(), "");
}

TEST_F(QtSerialLinkTest, ClosingDiscardsUnreadInput) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(pty.Write("stale"));
    PumpUntil([&] { return link.InBufferCount() == 5; });
    ASSERT_EQ(link.InBufferCount(), 5);

    link.SetPortOpen(false);
    EXPECT_EQ(link.Input(), "");
    ASSERT_TRUE(Open());
    RunQtEventsBriefly();
    EXPECT_EQ(link.Input(), "");
}

TEST_F(QtSerialLinkTest, MissingPortFailsToOpen) {
    QtSerialLink missing([](std::int16_t) { return std::string("/dev/q218-no-such-port"); });
    missing.SetCommPort(1);
    EXPECT_FALSE(missing.SetPortOpen(true));
    EXPECT_FALSE(missing.PortOpen());
    EXPECT_FALSE(missing.LineLost());

    QtSerialLink unnamed([](std::int16_t) { return std::string(); });
    EXPECT_FALSE(unnamed.SetPortOpen(true));
}

TEST_F(QtSerialLinkTest, PortHeldByAnotherProgramFailsToOpen) {
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        // Another program holding the port the usual way, with a QSerialPort of its own.
        QSerialPort port(QString::fromStdString(pty.SlaveName()));
        const char opened = port.open(QIODevice::ReadWrite) ? 'y' : 'n';
        (void)::write(ready[1], &opened, 1);
        char done = 0;
        (void)::read(release[0], &done, 1);
        ::_exit(0);
    }
    char opened = 0;
    ASSERT_EQ(::read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, 'y') << "the other program could not open the port";

    EXPECT_FALSE(Open());
    EXPECT_FALSE(link.PortOpen());

    (void)::write(release[1], "x", 1);
    int status = 0;
    ::waitpid(holder, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        ::close(fd);
    }
    EXPECT_TRUE(Open()) << "free again once the other program ended";
}

TEST_F(QtSerialLinkTest, UnpluggedDeviceClosesThePortWithoutSpinning) {
    ASSERT_TRUE(Open());
    RunQtEventsBriefly();
    pty.CloseMaster();

    // Wait as a polling loop of the updater would, and watch the process's CPU time: an
    // endless error storm would keep a core busy for the whole half second. A guard against
    // that storm, not a benchmark.
    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = ProcessCpuTime();
    while (std::chrono::steady_clock::now() - wallStart < 500ms) {
        RunQtEventsBriefly();
        (void)link.Input();
    }
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    const auto cpu = ProcessCpuTime() - cpuStart;

    EXPECT_TRUE(link.LineLost());
    EXPECT_FALSE(link.PortOpen());
    EXPECT_EQ(link.Input(), "");
    EXPECT_LT(cpu.count(), wall.count() * 3 / 10)
        << "cpu " << std::chrono::duration_cast<std::chrono::milliseconds>(cpu).count()
        << " ms over " << std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()
        << " ms";
}

// The line goes while bytes wait to leave. QSerialPort reports the failed write from inside
// whatever meets the dead line first, our own close and flush included: each row is one of
// them, and each must end as a lost line with the port closed, not in endless re-entrance.
TEST(QtSerialLinkLineGone, WithBytesQueuedIsALostLine) {
    const struct {
        const char* name;
        void (*meetTheDeadLine)(QtSerialLink& link);
    } rows[] = {
        {"the event loop writes", [](QtSerialLink&) { RunQtEventsBriefly(); }},
        {"the close flushes", [](QtSerialLink& l) { EXPECT_TRUE(l.SetPortOpen(false)); }},
        {"the next open closes first", [](QtSerialLink& l) { EXPECT_FALSE(l.SetPortOpen(true)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PseudoTerminal pty;
        QtSerialLink link{OnlyPort(pty)};
        ASSERT_TRUE(link.SetPortOpen(true));
        RunQtEventsBriefly();
        link.Output(":S");
        pty.CloseMaster();

        row.meetTheDeadLine(link);
        for (int pass = 0; pass < 100 && link.PortOpen(); ++pass) {
            RunQtEventsBriefly();
        }
        EXPECT_TRUE(link.LineLost());
        EXPECT_FALSE(link.PortOpen());
        EXPECT_EQ(link.Input(), "");
    }
}

// The device's side of the line as the simulated Q218's pty server plays it.
std::vector<sim::TranscriptEntry> IdentificationExchanges(sim::PtyServer& server) {
    return server.WithDevice([](sim::SimulatedQ218& device) {
        std::vector<sim::TranscriptEntry> exchanges;
        for (const sim::TranscriptEntry& entry : device.Transcript()) {
            if (entry.kind == sim::EntryKind::IdentifyQuery ||
                entry.kind == sim::EntryKind::IdentifyReply ||
                entry.kind == sim::EntryKind::Unexpected) {
                exchanges.push_back(entry);
            }
        }
        return exchanges;
    });
}

TEST(QtSerialLinkDeviceTest, IdentifiesTheSimulatedDeviceAndReleasesThePort) {
    sim::PtyServer::Created created = sim::PtyServer::Create(
        sim::PreviousFirmware{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"});
    ASSERT_NE(created.server, nullptr) << created.error;
    sim::PtyServer& server = *created.server;
    QtSerialLink link([path = server.SlavePath()](std::int16_t) { return path; });
    QtWindow window;
    SteadyClock clock;
    LinkContext context{link, window.view, clock};
    ReplyFields fields;

    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(context, 1, fields));
    EXPECT_EQ(window.view.GetPanelText("mod"), "Q218");
    EXPECT_EQ(window.view.GetPanelText("ser"), "123456");
    EXPECT_EQ(window.view.GetPanelText("rev"), "R04.5");
    EXPECT_EQ(window.view.GetPanelText("dat"), "2021-11-02");
    EXPECT_FALSE(link.PortOpen());

    // Released: another QSerialPort can take the port, and after it the link again.
    {
        QSerialPort other(QString::fromStdString(server.SlavePath()));
        EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
    }
    server.WithDevice([](sim::SimulatedQ218& device) { device.IdentificationReply("Q218\r\n"); });
    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(context, 1, fields));
    EXPECT_EQ(window.view.GetPanelText("mod"), "Q218");
    EXPECT_EQ(window.view.GetPanelText("ser"), "");
    EXPECT_FALSE(link.PortOpen());

    const std::vector<sim::TranscriptEntry> exchanges = IdentificationExchanges(server);
    ASSERT_EQ(exchanges.size(), 4U) << sim::Describe(exchanges);
    EXPECT_EQ(exchanges[0].kind, sim::EntryKind::IdentifyQuery);
    EXPECT_EQ(exchanges[0].bytes, "990\r");
    EXPECT_EQ(exchanges[1].kind, sim::EntryKind::IdentifyReply);
    EXPECT_EQ(exchanges[2].kind, sim::EntryKind::IdentifyQuery);
    EXPECT_EQ(exchanges[3].bytes, "Q218\r\n");
}

TEST_F(QtSerialLinkTest, DeviceUnpluggedDuringTheQueryCountsAsNoReply) {
    QtWindow window;
    SteadyClock clock;
    LinkContext context{link, window.view, clock};
    ReplyFields fields;
    window.view.SetPanelText("mod", "Q218");
    window.view.SetPanelText("ser", "123456");

    // The device takes the query, starts to answer, and is pulled out mid-reply.
    window.view.When([&] { return pty.Read(0ms).find('\r') != std::string::npos; },
                     [&] {
                         pty.Write("123456 Q2");
                         pty.CloseMaster();
                     });
    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(context, 1, fields));

    EXPECT_TRUE(link.LineLost());
    EXPECT_FALSE(link.PortOpen());
    EXPECT_EQ(window.view.GetPanelText("mod"), "");
    EXPECT_EQ(window.view.GetPanelText("ser"), "");
}

// Settings other than the updater's own reach the port as given, not as 9600,n,8,1. (A
// pty keeps 8 data bits without parity whatever it is told.)
TEST_F(QtSerialLinkTest, OtherLineSettingsReachThePortAsGiven) {
    link.SetCommPort(1);
    link.SetSettings({19200, Parity::Even, 7, StopBits::Two});
    ASSERT_TRUE(link.SetPortOpen(true));
    termios settings{};
    ASSERT_EQ(::tcgetattr(pty.MasterFd(), &settings), 0);
    EXPECT_EQ(::cfgetospeed(&settings), B19200);
    EXPECT_NE(settings.c_cflag & CSTOPB, 0U) << "one stop bit";
}

}  // namespace
}  // namespace q218
