#pragma once
// Holds the window's repaints to about ten a second while the progress fill moves. During an
// update the fill grows by a pixel every frame or two; each repaint of the window costs an X
// round trip and an image put, more than the transfer's own work. Every other change (a
// message, a panel, a key typed) repaints as soon as it happens, unless the fill moved in
// the last interval, when it waits at most that long.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

class QWidget;

namespace q218 {

class RepaintPacer final : public QObject {
public:
    // Watches `window`, the top-level widget whose repaints Qt requests all at once.
    RepaintPacer(QWidget& window, std::chrono::milliseconds interval);

    // The fill has moved: a repaint less than the interval after the last one waits.
    void FillMoved() { m_paced = true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RepaintNow();

    QWidget& m_window;
    std::chrono::milliseconds m_interval;
    QElapsedTimer m_sinceRepaint;
    // Sends the held repaint once the interval since the last one has passed.
    QTimer m_held;
    bool m_paced = false;
};

}  // namespace q218
