#include "app/qt/RepaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace q218 {

RepaintPacer::RepaintPacer(QWidget& window, std::chrono::milliseconds interval)
    : m_window(window), m_interval(interval) {
    m_held.setSingleShot(true);
    connect(&m_held, &QTimer::timeout, this, [this] { RepaintNow(); });
    m_window.installEventFilter(this);
}

// Qt marks what changed and posts one UpdateRequest to the top-level widget, and posts no
// other until that one has been handled: a held request keeps every later change waiting
// with it, and the one sent at the end of the interval repaints all of them together.
bool RepaintPacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &m_window || event->type() != QEvent::UpdateRequest) {
        return false;
    }
    const std::chrono::milliseconds since(m_sinceRepaint.isValid() ? m_sinceRepaint.elapsed()
                                                                   : m_interval.count());
    if (m_paced && since < m_interval) {
        if (!m_held.isActive()) {
            m_held.start(m_interval - since);
        }
        return true;
    }
    m_held.stop();
    m_paced = false;
    m_sinceRepaint.start();
    return false;
}

void RepaintPacer::RepaintNow() {
    m_paced = false;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(&m_window, &request);
}

}  // namespace q218
