#include "support/FakeView.h"

#include <algorithm>
#include <stdexcept>

namespace q218::test {

namespace {

// The button-face grey of the track before the transfer turns it black.
constexpr Rgb kButtonFace{240, 240, 240};

// One case a line reads as the table it is.
// clang-format off
bool IsButtonTarget(FocusTarget target, Button& button) {
    switch (target) {
        case FocusTarget::cmdOK: button = Button::cmdOK; return true;
        case FocusTarget::cmdUpdate: button = Button::cmdUpdate; return true;
        case FocusTarget::cmdExit: button = Button::cmdExit; return true;
        case FocusTarget::Text4: return false;
    }
    return false;
}

std::optional<FocusTarget> TargetOf(Button button) {
    switch (button) {
        case Button::cmdOK: return FocusTarget::cmdOK;
        case Button::cmdUpdate: return FocusTarget::cmdUpdate;
        case Button::cmdExit: return FocusTarget::cmdExit;
    }
    return std::nullopt;
}
// clang-format on

}  // namespace

FakeView::FakeView(sim::FakeClock& clock, std::chrono::nanoseconds step)
    : m_clock(clock), m_step(step) {
    Reset();
}

void FakeView::Reset() {
    // clang-format off
    m_texts = {{TextBox::Text1, ""}, {TextBox::Text2, ""}, {TextBox::Text3, ""},
               {TextBox::Text4, "888888"}};
    // clang-format on
    m_details.clear();
    m_text4Visible = false;
    m_enabled = {{Button::cmdOK, true}, {Button::cmdUpdate, false}, {Button::cmdExit, true}};
    m_focus = FocusTarget::cmdOK;
    m_panels = {{"mod", ""}, {"ser", ""}, {"rev", ""}, {"dat", ""}};
    m_progress = 0.0F;
    m_progressHistory.clear();
    m_track = kButtonFace;
    m_messages.clear();
    m_events.clear();
    m_violations.clear();
}

void FakeView::SetText(TextBox box, std::string_view text) {
    std::string value(text);
    // Text4 takes at most six characters, like the real box.
    if (box == TextBox::Text4 && value.size() > 6) {
        value.resize(6);
    }
    if (box == TextBox::Text2) {
        m_messages.push_back(value);
    }
    m_texts[box] = std::move(value);
}

void FakeView::SetVisible(TextBox box, bool visible) {
    if (box != TextBox::Text4) {
        m_violations.push_back("SetVisible on a box other than Text4");
        return;
    }
    m_text4Visible = visible;
    if (!visible && m_focus == FocusTarget::Text4) {
        m_focus.reset();
    }
}

void FakeView::SetEnabled(Button button, bool enabled) {
    m_enabled[button] = enabled;
    if (!enabled && m_focus == TargetOf(button)) {
        m_focus.reset();
    }
}

bool FakeView::IsEnabled(Button button) const {
    return m_enabled.at(button);
}

void FakeView::SetFocus(FocusTarget target) {
    Button button{};
    if (IsButtonTarget(target, button)) {
        if (!m_enabled.at(button)) {
            m_violations.push_back("focus moved to a disabled button");
            return;
        }
    } else if (!m_text4Visible) {
        m_violations.push_back("focus moved to the hidden serial-number box");
        return;
    }
    m_focus = target;
}

std::string FakeView::Detail(TextBox box) const {
    const auto it = m_details.find(box);
    return it == m_details.end() ? std::string() : it->second;
}

void FakeView::SetPanelText(std::string_view key, std::string_view text) {
    auto it = m_panels.find(key);
    if (it == m_panels.end()) {
        m_violations.push_back("unknown panel key " + std::string(key));
        return;
    }
    it->second = std::string(text);
}

std::string FakeView::GetPanelText(std::string_view key) const {
    auto it = m_panels.find(key);
    if (it == m_panels.end()) {
        throw std::out_of_range("unknown panel key " + std::string(key));
    }
    return it->second;
}

void FakeView::SetProgress(float fraction) {
    if (!(fraction >= 0.0F && fraction <= 1.0F)) {
        m_violations.push_back("progress fraction outside 0 to 1");
    }
    m_progress = fraction;
    m_progressHistory.push_back(fraction);
}

void FakeView::ShowMessageBox(std::string_view text) {
    m_events.push_back("box:" + std::string(text));
    if (m_boxHook) {
        m_boxHook(text);
    }
}

std::vector<std::string> FakeView::MessageBoxes() const {
    std::vector<std::string> boxes;
    for (const auto& event : m_events) {
        if (event.rfind("box:", 0) == 0) {
            boxes.push_back(event.substr(4));
        }
    }
    return boxes;
}

int FakeView::Beeps() const {
    int beeps = 0;
    for (const auto& event : m_events) {
        beeps += event == "beep" ? 1 : 0;
    }
    return beeps;
}

void FakeView::ProcessEventsFor(std::chrono::nanoseconds limit) {
    Wait(std::clamp(limit, std::chrono::nanoseconds::zero(), m_step));
}

void FakeView::Wait(std::chrono::nanoseconds advance) {
    ++m_processEventsCalls;
    m_clock.Advance(advance);
    for (auto& hook : m_hooks) {
        hook();
    }
    RunScripts();
}

void FakeView::When(std::function<bool()> condition, std::function<void()> action) {
    m_scripts.push_back({std::move(condition), std::move(action)});
}

void FakeView::WhenClick(std::function<bool()> condition, Button button,
                         std::function<void()> handler) {
    When(std::move(condition), [this, button, handler = std::move(handler)] {
        if (IsEnabled(button)) {
            handler();
        }
    });
}

void FakeView::RunScripts() {
    // Index loop: an action may add scripts, and may throw ProgramEnded out of here.
    for (std::size_t i = 0; i < m_scripts.size(); ++i) {
        if (!m_scripts[i].done && m_scripts[i].condition()) {
            m_scripts[i].done = true;
            auto action = m_scripts[i].action;
            action();
        }
    }
}

}  // namespace q218::test
