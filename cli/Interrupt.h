#pragma once
// Ctrl+C as an event of the Qt event loop: the signal handler does nothing but wake the loop,
// and the program decides in its own time, inside the next ProcessEvents, what the
// interruption means at that point of the update.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace q218::flash {

class InterruptWatch final {
public:
    // `onInterrupt` runs on the event loop's thread once per Ctrl+C.
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    std::function<void()> m_onInterrupt;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace q218::flash
