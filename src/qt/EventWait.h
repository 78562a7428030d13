#pragma once
// The one way both faces of the updater (the window and q218-flash's console) wait: handle
// what is pending, and only when nothing was, sleep in Qt's event dispatcher until something
// happens (a click, serial data or a serial error, a notifier, a timer) or the limit passes.
// Nothing wakes periodically, so an idle updater costs no CPU.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

namespace q218 {

// Counts the events Qt delivers in the application's thread. Whether a pass handled
// something is read from it, not from processEvents' result: Qt's Windows dispatcher sends
// the posted events (QSerialPort's I/O completions among them) at the start of a pass and
// counts only the messages it takes from its queue, so a pass that ran the serial port's
// handler can report nothing handled, and a sleep after it would wait for an event that has
// already been handled (on a line that says nothing more, for ever).
class DeliveredEvents final : public QObject {
public:
    DeliveredEvents();
    std::uint64_t Count() const { return m_count; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::uint64_t m_count = 0;
};

class EventWait {
public:
    EventWait();

    // Handles the pending events of this thread. When there were none, and `ending` (read
    // after that pass, whose handlers may have ended the program) is false, sleeps until the
    // next event or at most `limit`: zero never sleeps, a limit beyond a day sets no timer.
    void Run(std::chrono::nanoseconds limit, const std::function<bool()>& ending);

private:
    // Wakes a bounded sleep at its limit.
    QTimer m_wake;
    DeliveredEvents m_delivered;
};

}  // namespace q218
