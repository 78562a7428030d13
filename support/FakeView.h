#pragma once
// A headless UpdaterView for tests: a passive state model of the window. It keeps texts,
// flags, focus, panels and progress, logs beeps, message boxes and message-line texts in
// order, and its ProcessEvents advances the fake clock and runs scripted actions (clicks,
// keys), so handlers nested inside a wait can be tested.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/UpdaterView.h"
#include "sim/FakeClock.h"

namespace q218::test {

class FakeView final : public UpdaterView {
public:
    // Each ProcessEvents advances `clock` by `step`, as if the next event came after it;
    // ProcessEventsFor(limit) advances it by `step` or `limit`, whichever is shorter, as the
    // real window's bounded wait ends at its limit.
    explicit FakeView(sim::FakeClock& clock,
                      std::chrono::nanoseconds step = std::chrono::milliseconds(1));

    // The window as Form_Load finds it: the control table's initial state.
    void Reset();

    // UpdaterView
    void SetText(TextBox box, std::string_view text) override;
    std::string GetText(TextBox box) const override { return m_texts.at(box); }
    void SetVisible(TextBox box, bool visible) override;
    bool IsVisible(TextBox box) const override { return box == TextBox::Text4 && m_text4Visible; }
    void SetEnabled(Button button, bool enabled) override;
    void SetFocus(FocusTarget target) override;
    void SetDetail(TextBox box, std::string_view text) override { m_details[box] = text; }
    void SetPanelText(std::string_view key, std::string_view text) override;
    std::string GetPanelText(std::string_view key) const override;
    void SetProgress(float fraction) override;
    void SetProgressBackground(Rgb colour) override { m_track = colour; }
    void Beep() override { m_events.emplace_back("beep"); }
    void ShowMessageBox(std::string_view text) override;
    void ProcessEvents() override { Wait(m_step); }
    void ProcessEventsFor(std::chrono::nanoseconds limit) override;

    // Inspection.
    bool IsEnabled(Button button) const;
    // The control with the focus; nullopt-like "none" after the focused button was disabled.
    std::optional<FocusTarget> Focus() const { return m_focus; }
    float Progress() const { return m_progress; }
    const std::vector<float>& ProgressHistory() const { return m_progressHistory; }
    Rgb TrackColour() const { return m_track; }
    // A box's detail as last set; empty when none.
    std::string Detail(TextBox box) const;
    // Every text Text2 was set to, in order.
    const std::vector<std::string>& Messages() const { return m_messages; }
    // Beeps and message boxes in order: "beep" or "box:<text>".
    const std::vector<std::string>& Events() const { return m_events; }
    std::vector<std::string> MessageBoxes() const;
    int Beeps() const;
    // Waits of either kind.
    long ProcessEventsCalls() const { return m_processEventsCalls; }
    // Rule breaks the real window would not forgive: focus moved to a disabled or hidden
    // control, or a box other than Text4 shown/hidden.
    const std::vector<std::string>& Violations() const { return m_violations; }

    // Scripting. An action runs once, inside the first ProcessEvents (or message box) at
    // which its condition holds, nested in whatever handler is waiting.
    void When(std::function<bool()> condition, std::function<void()> action);
    // A click on `button` runs `handler` only if the button is enabled at that moment.
    void WhenClick(std::function<bool()> condition, Button button, std::function<void()> handler);
    // Runs on every ProcessEvents after the clock moved (e.g. to let a device act).
    void OnProcessEvents(std::function<void()> hook) { m_hooks.push_back(std::move(hook)); }
    // Runs when a message box opens, instead of a technician closing it at once.
    void OnMessageBox(std::function<void(std::string_view)> hook) { m_boxHook = std::move(hook); }

private:
    void Wait(std::chrono::nanoseconds advance);
    void RunScripts();

    sim::FakeClock& m_clock;
    std::chrono::nanoseconds m_step;
    std::map<TextBox, std::string> m_texts;
    std::map<TextBox, std::string> m_details;
    bool m_text4Visible = false;
    std::map<Button, bool> m_enabled;
    std::optional<FocusTarget> m_focus;
    std::map<std::string, std::string, std::less<>> m_panels;
    float m_progress = 0.0F;
    std::vector<float> m_progressHistory;
    Rgb m_track{};
    std::vector<std::string> m_messages;
    std::vector<std::string> m_events;
    std::vector<std::string> m_violations;
    long m_processEventsCalls = 0;

    struct Script {
        std::function<bool()> condition;
        std::function<void()> action;
        bool done = false;
    };
    std::vector<Script> m_scripts;
    std::vector<std::function<void()>> m_hooks;
    std::function<void(std::string_view)> m_boxHook;
};

}  // namespace q218::test
