#include "qt/EventWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace q218 {

DeliveredEvents::DeliveredEvents() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->installEventFilter(this);
    }
}

bool DeliveredEvents::eventFilter(QObject* /*watched*/, QEvent* /*event*/) {
    ++m_count;
    return false;
}

EventWait::EventWait() {
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
}

void EventWait::Run(std::chrono::nanoseconds limit, const std::function<bool()>& ending) {
    // A limit beyond what a timer takes is no limit: the wait ends on an event only.
    constexpr std::chrono::nanoseconds kLongestTimer = std::chrono::hours(24);
    QAbstractEventDispatcher* dispatcher =
        QAbstractEventDispatcher::instance(QThread::currentThread());
    const std::uint64_t deliveredBefore = m_delivered.Count();
    const bool handledSome =
        dispatcher->processEvents(QEventLoop::AllEvents) || m_delivered.Count() != deliveredBefore;
    if (handledSome || ending() || limit <= std::chrono::nanoseconds::zero()) {
        return;
    }
    if (limit < kLongestTimer) {
        m_wake.start(std::chrono::ceil<std::chrono::milliseconds>(limit));
    }
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    m_wake.stop();
}

}  // namespace q218
