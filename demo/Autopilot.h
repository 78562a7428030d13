#pragma once
// Drives the demo window on a machine without a display: clicks "OK" and "&Update" through
// the buttons' own click path (and types a serial number key by key when the device has
// none), prints every message-line text, the status-bar panels, the buttons and the progress
// in steps of 10 % as they change, saves a screenshot of the window at each state, and
// decides the demo's exit code: 0 only when the simulated device reports the image's
// revision with the serial number it should carry.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/Main.h"
#include "demo/WindowDriver.h"

class QMessageBox;

namespace q218::sim {
class PtyServer;
}  // namespace q218::sim

namespace q218::demo {

struct AutopilotSettings {
    std::filesystem::path shots;   // folder for the screenshots; empty: none
    std::string typedSerial;       // typed into the serial-number box if the device has none
    std::string expectedSerial;    // what the device must report after the update
    std::string expectedRevision;  // the revision of the image the updater carries
    std::chrono::seconds timeout{300};
};

class Autopilot final : public QObject {
public:
    // `logic` is the window's logic: the autopilot reads what it did from its typed results,
    // and sees the window only as a person does.
    Autopilot(QtUpdaterView& window, const Main& logic, sim::PtyServer& device,
              AutopilotSettings settings, std::FILE* out);

    // Starts watching and acting; call once the window has loaded.
    void Start();
    // 0 when the update was verified on the device, 1 otherwise.
    int ExitCode() const { return m_stage == Stage::Succeeded ? 0 : 1; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnMessage(const QString& text);
    // Prints what changed in the panels and the buttons since the last look.
    void Observe();
    void OnProgressResized();
    // One step of the technician's part, taken on the autopilot's own timer.
    void Act();
    void OnMessageBox(QMessageBox& box);
    void TypeSerial();
    void Verify();
    void Fail(std::string_view why);
    void Leave();
    void ClickSoon(Button button);
    void Shoot(std::string_view what);
    void Print(std::string_view text);

    // The technician's part, one step after another; a click waits on m_click.
    enum class Stage {
        Connect,    // "OK" not clicked yet
        Settle,     // the scan: a serial number to type, or "&Update" to click
        Updating,   // "&Update" clicked: waiting for the run's ending
        Succeeded,  // verified on the device
        Failed,     // Act leaves once either is reached: the timer stops, Exit is clicked
    };

    WindowDriver m_driver;
    const Main& m_logic;
    sim::PtyServer& m_device;
    AutopilotSettings m_settings;
    std::FILE* m_out;

    QTimer m_tick;
    QTimer m_click;
    QElapsedTimer m_elapsed;
    int m_shotNumber = 0;
    std::array<std::string, 4> m_shownPanels;
    QString m_shownButtons;
    int m_shownDecile = 0;
    Stage m_stage = Stage::Connect;
    bool m_typedSerial = false;
};

}  // namespace q218::demo
