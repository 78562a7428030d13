#pragma once
// Ctrl+C, SIGTERM and SIGHUP (on Windows, Ctrl+C and Ctrl+Break) as events of the Qt event
// loop: the signal handler does nothing but wake the loop, and the program decides in its own
// time, inside the next ProcessEvents, what the signal means at that point of the update. SIGPIPE
// and SIGXFSZ are ignored for the program's whole life (IgnoreFailedWriteSignals): a reader of
// standard output that goes away, or a log over the file size limit, must not end an update
// half-way; the writes then fail and the update goes on.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace q218::flash {

enum class Signal {
    Interrupt,  // SIGINT: Ctrl+C
    Terminate,  // SIGTERM: systemd, timeout, kill
    HangUp,     // SIGHUP: the terminal or the ssh session went away
};

// Called once at start-up, before anything is written.
void IgnoreFailedWriteSignals();

// Acts as Ctrl+C pressed once, for the current SignalWatch; callable from any thread.
void RaiseInterrupt();

class SignalWatch final {
public:
    // `onSignal` runs on the event loop's thread once per signal received.
    explicit SignalWatch(std::function<void(Signal)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    std::function<void(Signal)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace q218::flash
