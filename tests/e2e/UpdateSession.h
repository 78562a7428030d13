#pragma once
// One technician's session, end to end: the updater's Qt window (offscreen), its window
// logic and its QSerialPort link on the demo's ports (COM3 the simulated Q218 on a
// pseudo-terminal, COM1 and COM2 pseudo-terminals where nothing answers, COM4 a name that does
// not exist). The test drives the window as a person does through the window driver; a
// watchdog closes the window (which ends any wait) if a click's handler hangs, and every
// message box is read and closed with its "OK" button.

#include <memory>
#include <string>

#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "demo/DemoPorts.h"
#include "demo/WindowDriver.h"
#include "link/MonotonicClock.h"
#include "link/qt/QtSerialLink.h"
#include "support/ExpectedMemory.h"

namespace q218::test {

class UpdateSession {
public:
    // Starts the device and the window (Form_Load has run). Valid() is false if the system
    // gave no pseudo-terminal.
    explicit UpdateSession(const sim::PreviousFirmware& firmware);
    ~UpdateSession();
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    bool Valid() const { return m_ports != nullptr; }
    const std::string& Error() const { return m_error; }
    sim::PtyServer& Device() { return m_ports->Device(); }
    WindowDriver& Window() { return *m_driver; }

    // Program memory as the device holds it now.
    Memory ReadMemory();

    // A click on the button under the watchdog; returns when the handler has finished (or
    // the watchdog ended the session). False if the button was disabled.
    bool Click(Button button);

private:
    std::string m_error;
    std::unique_ptr<demo::DemoPorts> m_ports;
    std::unique_ptr<QtSerialLink> m_link;
    SteadyClock m_clock;
    std::unique_ptr<QtUpdaterView> m_view;
    std::unique_ptr<Main> m_main;
    std::unique_ptr<WindowDriver> m_driver;
};

}  // namespace q218::test
