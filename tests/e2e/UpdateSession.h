#pragma once
// One technician's session, end to end: the updater's Qt window (offscreen), its window
// logic and its QSerialPort link, with COM3 leading to the simulated Q218 on a
// pseudo-terminal, COM2 to a pseudo-terminal where nothing answers, COM1 and COM4 to names
// that do not exist. The test clicks the buttons and types into the widgets as a person does;
// a watchdog closes the window (which ends any wait) if the session hangs, and every message
// box is read and closed with its "OK" button.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QTimer>

#include "support/ExpectedMemory.h"
#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "link/MonotonicClock.h"
#include "link/qt/QtSerialLink.h"
#include "sim/PtyServer.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace q218::test {

class UpdateSession {
public:
    // Starts the device and the window (Form_Load has run). Valid() is false if the system
    // gave no pseudo-terminal.
    explicit UpdateSession(const sim::PreviousFirmware& firmware);
    ~UpdateSession();
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    bool Valid() const { return m_device != nullptr; }
    const std::string& Error() const { return m_error; }
    sim::PtyServer& Device() { return *m_device; }

    // Program memory as the device holds it now.
    Memory ReadMemory();

    // A click on the button, through its own click path; returns when the handler has
    // finished (or the watchdog ended the session). False if the button was disabled.
    bool Click(const char* buttonName);
    // Types `text` into the serial-number box key by key, then presses Enter.
    void TypeSerialAndEnter(const std::string& text);

    std::string Message() const;
    std::string Panel(const char* key) const;
    bool Enabled(const char* buttonName) const;
    bool SerialBoxShown() const;
    // Fill width as a fraction of the track's.
    double Progress() const;

    // Texts of the message boxes that opened, in order.
    const std::vector<std::string>& MessageBoxes() const { return m_boxes; }
    // True if the watchdog had to end a wait.
    bool HungUp() const { return m_hung; }

private:
    QPushButton* ButtonNamed(const char* name) const;

    std::string m_error;
    std::unique_ptr<sim::PtyServer> m_silent;
    std::unique_ptr<sim::PtyServer> m_device;
    std::unique_ptr<QtSerialLink> m_link;
    SteadyClock m_clock;
    std::unique_ptr<QtUpdaterView> m_view;
    std::unique_ptr<Main> m_main;
    QTimer m_boxCloser;
    QTimer m_watchdog;
    std::vector<std::string> m_boxes;
    bool m_hung = false;
};

}  // namespace q218::test
