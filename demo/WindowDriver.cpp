#include "demo/WindowDriver.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "app/qt/ControlNames.h"
#include "app/qt/QtUpdaterView.h"

namespace q218 {

namespace {

using namespace std::chrono_literals;

constexpr std::array<std::string_view, 4> kPanelKeys = {kPanelModel, kPanelSerial, kPanelRevision,
                                                        kPanelDate};

// How often the driver looks for a message box that has opened.
constexpr auto kBoxLookInterval = 20ms;

template <typename Widget>
Widget* Find(QWidget& window, const char* name) {
    return window.findChild<Widget*>(QString::fromLatin1(name));
}

void SendKey(QWidget* target, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &release);
}

}  // namespace

WindowDriver::WindowDriver(QtUpdaterView& window) : m_window(window) {
    m_boxes4 = {Find<QLineEdit>(window, control::Text1), Find<QLineEdit>(window, control::Text2),
                Find<QLineEdit>(window, control::Text3), Find<QLineEdit>(window, control::Text4)};
    m_buttons = {Find<QPushButton>(window, control::cmdOK),
                 Find<QPushButton>(window, control::cmdUpdate),
                 Find<QPushButton>(window, control::cmdExit)};
    m_track = Find<QLabel>(window, control::UpdateBarBG);
    m_fill = Find<QLabel>(window, control::UpdateBarFG);

    m_boxCloser.setInterval(kBoxLookInterval);
    QObject::connect(&m_boxCloser, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // A box stays the active modal widget until its close has been handled.
        if (box == nullptr || box->property("q218DriverRead").toBool()) {
            return;
        }
        box->setProperty("q218DriverRead", true);
        m_boxes.push_back(box->text().toStdString());
        if (m_onBox) {
            m_onBox(*box);
        }
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    });

    m_watchdog.setSingleShot(true);
    QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
        m_watchdogFired = true;
        if (m_onHang) {
            m_onHang();
        } else {
            m_window.close();
        }
    });
}

bool WindowDriver::Complete() const {
    const auto present = [](const auto* widget) { return widget != nullptr; };
    return std::all_of(m_boxes4.begin(), m_boxes4.end(), present) &&
           std::all_of(m_buttons.begin(), m_buttons.end(), present) && m_track != nullptr &&
           m_fill != nullptr && std::all_of(kPanelKeys.begin(), kPanelKeys.end(), [this](auto key) {
               return Find<QLabel>(m_window, std::string(key).c_str()) != nullptr;
           });
}

QLineEdit* WindowDriver::Box(TextBox box) const {
    return m_boxes4[static_cast<std::size_t>(box)];
}

QPushButton* WindowDriver::ButtonWidget(Button button) const {
    return m_buttons[static_cast<std::size_t>(button)];
}

bool WindowDriver::Click(Button button) {
    QPushButton* widget = ButtonWidget(button);
    if (widget == nullptr || !widget->isEnabled()) {
        return false;
    }
    widget->click();
    return true;
}

void WindowDriver::TypeSerialAndEnter(std::string_view digits) {
    QLineEdit* box = Box(TextBox::Text4);
    for (char digit : digits) {
        SendKey(box, Qt::Key_0 + (digit - '0'), QString(QChar::fromLatin1(digit)));
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(box, &enter);
}

std::string WindowDriver::Text(TextBox box) const {
    return m_window.GetText(box);
}

std::string WindowDriver::Panel(std::string_view key) const {
    return m_window.GetPanelText(key);
}

std::array<std::string, 4> WindowDriver::Panels() const {
    std::array<std::string, 4> texts;
    std::transform(kPanelKeys.begin(), kPanelKeys.end(), texts.begin(),
                   [this](std::string_view key) { return Panel(key); });
    return texts;
}

bool WindowDriver::Enabled(Button button) const {
    const QPushButton* widget = ButtonWidget(button);
    return widget != nullptr && widget->isEnabled();
}

bool WindowDriver::SerialBoxShown() const {
    return m_window.IsVisible(TextBox::Text4);
}

double WindowDriver::Progress() const {
    if (m_track == nullptr || m_fill == nullptr || m_track->width() <= 0) {
        return -1.0;
    }
    return static_cast<double>(m_fill->width()) / m_track->width();
}

void WindowDriver::CloseMessageBoxes(std::function<void(QMessageBox&)> onOpen) {
    m_onBox = std::move(onOpen);
    m_boxCloser.start();
}

void WindowDriver::ArmWatchdog(std::chrono::milliseconds limit, std::function<void()> onHang) {
    m_onHang = std::move(onHang);
    m_watchdog.start(limit);
}

}  // namespace q218
