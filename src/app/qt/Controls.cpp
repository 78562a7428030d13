#include "app/qt/Controls.h"

#include <QFocusEvent>
#include <QFrame>

namespace q218 {

void Identify(QWidget& widget, const char* objectName, const QString& spoken, const Place& place) {
    widget.setObjectName(QString::fromLatin1(objectName));
    widget.setAccessibleName(spoken);
    widget.setGeometry(PixelsFromTwips(place.left), PixelsFromTwips(place.top),
                       PixelsFromTwips(place.width), PixelsFromTwips(place.height));
}

QString ToQt(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
    return text.toLatin1().toStdString();
}

QString PanelDisplay(std::string_view text) {
    QString shown = ToQt(text);
    for (QChar& character : shown) {
        if (character.unicode() < 0x20 && character != u'\t') {
            character = u' ';
        }
    }
    return shown;
}

void TextLine::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::ShortcutFocusReason) {
        QFocusEvent plain(event->type(), Qt::OtherFocusReason);
        QLineEdit::focusInEvent(&plain);
        return;
    }
    QLineEdit::focusInEvent(event);
}

void MakeFlat(QLineEdit& box) {
    box.setFrame(false);
    QPalette palette = box.palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    box.setPalette(palette);
}

void MakeBarLabel(QLabel& label, const QColor& background) {
    label.setFrameStyle(QFrame::Box | QFrame::Plain);
    label.setLineWidth(1);
    label.setAutoFillBackground(true);
    QPalette palette = label.palette();
    palette.setColor(QPalette::Window, background);
    label.setPalette(palette);
    label.setFocusPolicy(Qt::NoFocus);
}

}  // namespace q218
