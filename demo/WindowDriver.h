#pragma once
// Drives the real window as a person does, for the demo's autopilot and the end-to-end tests:
// finds the controls by their object names, clicks through a button's own click path, types
// into the serial-number box key by key, reads what the window shows, reads and closes every
// message box with its "OK" button, and keeps a watchdog that ends a wait which never ends.

#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/UpdaterView.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

namespace q218 {

class QtUpdaterView;

class WindowDriver {
public:
    explicit WindowDriver(QtUpdaterView& window);
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    // True when the window has every control the driver clicks, types into or reads.
    bool Complete() const;

    QtUpdaterView& Window() { return m_window; }
    QLineEdit* Box(TextBox box) const;
    QPushButton* ButtonWidget(Button button) const;
    QLabel* Track() const { return m_track; }
    QLabel* Fill() const { return m_fill; }

    // A click through the button's own click path: its handler runs inside this call. False
    // when the button is disabled.
    bool Click(Button button);
    // Types `digits` into the serial-number box key by key, as a keyboard delivers them (the
    // window sees each key before the box does), then presses Enter.
    void TypeSerialAndEnter(std::string_view digits);

    std::string Text(TextBox box) const;
    std::string Panel(std::string_view key) const;
    // The panels "mod", "ser", "rev" and "dat", left to right.
    std::array<std::string, 4> Panels() const;
    bool Enabled(Button button) const;
    bool SerialBoxShown() const;
    // The fill's width as a fraction of the track's; -1 before the track has a width.
    double Progress() const;

    // From now on every message box that opens is handed to `onOpen` (which may look at it,
    // or grab a picture of it) and then closed with its "OK" button.
    void CloseMessageBoxes(std::function<void(QMessageBox&)> onOpen = {});
    // The texts of the message boxes closed so far, in order.
    const std::vector<std::string>& MessageBoxes() const { return m_boxes; }

    // Unless disarmed within `limit`, calls `onHang`; without one it closes the window as the
    // title bar's close does, which ends the program from any wait.
    void ArmWatchdog(std::chrono::milliseconds limit, std::function<void()> onHang = {});
    void DisarmWatchdog() { m_watchdog.stop(); }
    bool WatchdogFired() const { return m_watchdogFired; }

private:
    QtUpdaterView& m_window;
    std::array<QLineEdit*, 4> m_boxes4{};
    std::array<QPushButton*, 3> m_buttons{};
    QLabel* m_track = nullptr;
    QLabel* m_fill = nullptr;

    QTimer m_boxCloser;
    std::function<void(QMessageBox&)> m_onBox;
    std::vector<std::string> m_boxes;
    QTimer m_watchdog;
    std::function<void()> m_onHang;
    bool m_watchdogFired = false;
};

}  // namespace q218
