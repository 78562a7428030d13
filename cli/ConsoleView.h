#pragma once
// The window operations on a terminal, for q218-flash: the message line and the message boxes
// become lines of text, the serial-number box, the buttons and the panels are state the
// program reads back, the progress goes to the program's progress line, and ProcessEvents
// sleeps in Qt's event dispatcher until the serial port, a signal or a timer wakes it. Needs
// only QtCore: it runs without a display.

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/UpdaterView.h"
#include "qt/EventWait.h"

namespace q218 {

// Where the console view's output goes: the program decides how lines and the progress are
// drawn (a redrawn line on a terminal, steps of 10 % in a log).
class ConsoleOutput {
public:
    virtual ~ConsoleOutput() = default;
    // A new text on the message line, or the text of a message box.
    virtual void Message(std::string_view text) = 0;
    // The track turned black: the transfer begins, the first line's turn comes next.
    virtual void TransferStarted() = 0;
    // The share of the image whose turn has come (0 to 1); the same share again after BEL.
    virtual void Progress(float fraction) = 0;
    // An answer of the bootloader, as its bytes came (data: any byte may be in it).
    virtual void Received(std::string_view /*bytes*/) {}
};

class ConsoleView final : public UpdaterView {
public:
    explicit ConsoleView(ConsoleOutput& output);

    // From the next ProcessEvents on, every ProcessEvents throws ProgramEnded: how Ctrl+C
    // ends the program from inside any wait of the logic, as Exit does in the window.
    void EndProgram() { m_ending = true; }
    bool IsEnabled(Button button) const { return m_enabled.contains(button); }
    const std::vector<std::string>& MessageBoxes() const { return m_boxes; }

    // Waits `duration` while processing events (Ctrl+C included); for retries of the
    // console's own, between identification queries.
    void Wait(std::chrono::milliseconds duration);

    // UpdaterView
    void SetText(TextBox box, std::string_view text) override;
    std::string GetText(TextBox box) const override;
    void SetVisible(TextBox box, bool visible) override;
    bool IsVisible(TextBox box) const override;
    void SetEnabled(Button button, bool enabled) override;
    void SetFocus(FocusTarget /*target*/) override {}
    // The console states its own reasons (the scan is the window's): nothing to add.
    void SetDetail(TextBox /*box*/, std::string_view /*text*/) override {}
    void SetPanelText(std::string_view key, std::string_view text) override;
    std::string GetPanelText(std::string_view key) const override;
    void SetProgress(float fraction) override { m_output.Progress(fraction); }
    void SetProgressBackground(Rgb /*colour*/) override { m_output.TransferStarted(); }
    // A terminal bell would only disturb a script; a refused entry ends the program anyway.
    void Beep() override {}
    void ShowMessageBox(std::string_view text) override;
    void ProcessEvents() override;
    void ProcessEventsFor(std::chrono::nanoseconds limit) override;

private:
    void ThrowIfEnding() const;

    ConsoleOutput& m_output;
    std::map<TextBox, std::string> m_texts;
    std::set<TextBox> m_visible;
    std::set<Button> m_enabled{Button::cmdOK, Button::cmdExit};
    std::map<std::string, std::string, std::less<>> m_panels;
    std::vector<std::string> m_boxes;
    // Every wait of the logic (ProcessEvents, ProcessEventsFor, Wait).
    EventWait m_wait;
    bool m_ending = false;
};

}  // namespace q218
