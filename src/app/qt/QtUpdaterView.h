#pragma once
// The updater's one window on Qt Widgets: every control of the window at its designed place,
// the UpdaterView operations the logic drives, and the dispatch of clicks and keys to the
// logic (WindowEvents). Positions are designed in twips and placed in device-independent
// pixels, so the window scales on high-DPI screens.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/UpdaterView.h"
#include "app/WindowEvents.h"
#include "app/qt/RepaintPacer.h"
#include "qt/EventWait.h"

class QFrame;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

namespace q218 {

inline constexpr const char* kWindowTitle = "DORVANE Q218 Firmware Update";

class QtUpdaterView final : public QWidget, public UpdaterView {
    Q_OBJECT

public:
    explicit QtUpdaterView(QWidget* parent = nullptr);
    ~QtUpdaterView() override;

    // Where clicks, keys and the title bar's close go. Without it they do nothing.
    void SetEvents(WindowEvents* events) { m_events = events; }

    // Runs one event handler of the window. ProgramEnded thrown by it (Exit, or the title
    // bar's close) never crosses Qt's frames: at the outermost level the window closes and
    // the application quits; inside a ProcessEvents or a message box the end is remembered
    // and ProcessEvents rethrows it once Qt has returned. Once the program has ended no
    // further handler runs.
    void Dispatch(const std::function<void()>& handler);
    // True once a handler ended the program and the unwinding reached the outermost level.
    bool ProgramHasEnded() const { return m_finished; }

    // UpdaterView
    void SetText(TextBox box, std::string_view text) override;
    std::string GetText(TextBox box) const override;
    void SetVisible(TextBox box, bool visible) override;
    bool IsVisible(TextBox box) const override;
    void SetEnabled(Button button, bool enabled) override;
    void SetFocus(FocusTarget target) override;
    // The box's tooltip and accessible description, device bytes made visible; a detail that
    // is not empty is also written to standard error under the box's text.
    void SetDetail(TextBox box, std::string_view text) override;
    void SetPanelText(std::string_view key, std::string_view text) override;
    std::string GetPanelText(std::string_view key) const override;
    void SetProgress(float fraction) override;
    void SetProgressBackground(Rgb colour) override;
    void Beep() override;
    void ShowMessageBox(std::string_view text) override;
    void ProcessEvents() override;
    void ProcessEventsFor(std::chrono::nanoseconds limit) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The constructor's steps: the window's title, size, icon and font; the four panels of the
    // status bar; the serial-number box; the tab order and the buttons' Enter and clicks.
    void SetUpWindow();
    void CreateStatusBar();
    void CreateSerialBox();
    void ConnectControls();
    QLineEdit* Box(TextBox box) const;
    QPushButton* ButtonWidget(Button button) const;
    void ThrowIfEnding() const;
    void FinishProgram();

    WindowEvents* m_events = nullptr;

    QLineEdit* m_text1 = nullptr;
    // Text1 is never shown: its text is kept here, and its widget is left alone (setting
    // a line edit's text lays it out and schedules a repaint, once per frame received).
    std::string m_text1Text;
    QLineEdit* m_text2 = nullptr;
    QLineEdit* m_text3 = nullptr;
    QLineEdit* m_text4 = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdUpdate = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QLabel* m_updateBarBG = nullptr;
    QLabel* m_updateBarFG = nullptr;
    QFrame* m_statusBar1 = nullptr;
    // Each panel keeps the text it was given; its label shows that text on one line.
    struct Panel {
        QLabel* label;
        std::string text;
    };
    std::map<std::string, Panel, std::less<>> m_panels;

    // About ten repaints a second at most while the progress fill moves.
    RepaintPacer m_pacer{*this, std::chrono::milliseconds(100)};
    // Every wait of the logic (ProcessEvents, ProcessEventsFor).
    EventWait m_wait;
    // How many ProcessEvents calls and message boxes are running: a handler that ends the
    // program at a depth above 0 ran nested inside one of them.
    int m_nesting = 0;
    QMessageBox* m_openBox = nullptr;
    bool m_ending = false;
    bool m_finished = false;
};

}  // namespace q218
