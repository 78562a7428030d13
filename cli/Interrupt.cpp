#include "Interrupt.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#include <QCoreApplication>
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

void IgnoreFailedWriteSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    // A file over the size limit (ulimit -f) fails the write with EFBIG instead of ending
    // the program: a verified update stays verified, and the log's error is said.
    ::signal(SIGXFSZ, SIG_IGN);
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

void RaiseInterrupt() {
    ::kill(::getpid(), SIGINT);
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
#elif defined(Q_OS_WIN)
namespace {

// Windows calls the console handler on a thread of its own: it posts the event to the
// loop's thread (a queued call is safe from any thread) and says the event is handled.
// Closing the console window is left to Windows, which ends the program after the handler.
std::function<void(Signal)>* g_onSignal = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (g_onSignal != nullptr) {
                (*g_onSignal)(Signal::Interrupt);
            }
        },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

void IgnoreFailedWriteSignals() {}

void RaiseInterrupt() {
    OnConsoleEvent(CTRL_C_EVENT);
}

SignalWatch::SignalWatch(std::function<void(Signal)> onSignal) : m_onSignal(std::move(onSignal)) {
    g_onSignal = &m_onSignal;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalWatch::~SignalWatch() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_onSignal = nullptr;
}
#else
void IgnoreFailedWriteSignals() {}
void RaiseInterrupt() {}

// Elsewhere the signals keep their default: they end the program at once.
SignalWatch::SignalWatch(std::function<void(Signal)> onSignal) : m_onSignal(std::move(onSignal)) {}
SignalWatch::~SignalWatch() = default;
#endif

}  // namespace q218::flash
