#pragma once
// Counts the paint events of one of the window's controls (by its object name): how often
// the progress fill was drawn, beside the CPU time that drawing cost.

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace q218::bench {

class PaintCount final : public QObject {
public:
    PaintCount(QWidget& window, const char* control) {
        if (QWidget* watched = window.findChild<QWidget*>(QString::fromLatin1(control))) {
            watched->installEventFilter(this);
        }
    }
    long paints = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

}  // namespace q218::bench
