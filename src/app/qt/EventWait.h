#pragma once
// The one way both faces of the updater (the window and q218-flash's console) wait: handle
// what is pending, and only when nothing was, sleep in Qt's event dispatcher until something
// happens (a click, serial data or a serial error, a notifier, a timer) or the limit passes.
// Nothing wakes periodically, so an idle updater costs no CPU.

#include <QTimer>
#include <chrono>
#include <functional>

namespace q218 {

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
};

}  // namespace q218
