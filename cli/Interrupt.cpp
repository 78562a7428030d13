#include "Interrupt.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace q218::flash {

#ifdef Q_OS_UNIX
namespace {

// The self-pipe: the handler may only do async-signal-safe things, and write() is one. The
// read end wakes the event dispatcher through a socket notifier, so a ProcessEvents that
// sleeps while the device is silent returns at once. Each byte names the signal.
int g_pipe[2] = {-1, -1};

constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

}  // namespace

void IgnoreBrokenPipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

SignalWatch::SignalWatch(std::function<void(Signal)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (::pipe(g_pipe) != 0) {
        return;  // the signals then end the program at once, as by default
    }
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        for (ssize_t n = ::read(g_pipe[0], bytes, sizeof bytes); n > 0;
             n = ::read(g_pipe[0], bytes, sizeof bytes)) {
            for (ssize_t i = 0; i < n; ++i) {
                const int number = bytes[i];
                m_onSignal(number == SIGTERM  ? Signal::Terminate
                           : number == SIGHUP ? Signal::HangUp
                                              : Signal::Interrupt);
            }
        }
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kWatched) {
        ::sigaction(number, &action, nullptr);
    }
}

SignalWatch::~SignalWatch() {
    if (m_notifier) {
        for (const int number : kWatched) {
            ::signal(number, SIG_DFL);
        }
        m_notifier.reset();
        ::close(g_pipe[0]);
        ::close(g_pipe[1]);
        g_pipe[0] = g_pipe[1] = -1;
    }
}
#else
void IgnoreBrokenPipe() {}

// Windows: SetConsoleCtrlHandler calls its handler on a thread of its own; it would post the
// same wake-up to the loop (QMetaObject::invokeMethod, queued) and return TRUE. Not built
// yet: Ctrl+C there ends the program at once.
SignalWatch::SignalWatch(std::function<void(Signal)> onSignal) : m_onSignal(std::move(onSignal)) {}
SignalWatch::~SignalWatch() = default;
#endif

}  // namespace q218::flash
