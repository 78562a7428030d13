#include "ConsoleView.h"

#include <QDeadlineTimer>

namespace q218 {

ConsoleView::ConsoleView(ConsoleOutput& output) : m_output(output) {
    // The box's text as the window is loaded.
    m_texts[TextBox::Text4] = "888888";
}

void ConsoleView::SetText(TextBox box, std::string_view text) {
    std::string& current = m_texts[box];
    // The message line is printed when it changes, as the window shows it.
    const bool changed = current != text;
    current = text;
    if (box == TextBox::Text2 && changed && !text.empty()) {
        m_output.Message(text);
    }
    // The download's working text takes every answer of the bootloader as it comes.
    if (box == TextBox::Text1) {
        m_output.Received(text);
    }
}

std::string ConsoleView::GetText(TextBox box) const {
    const auto found = m_texts.find(box);
    return found == m_texts.end() ? std::string() : found->second;
}

void ConsoleView::SetVisible(TextBox box, bool visible) {
    if (visible) {
        m_visible.insert(box);
    } else {
        m_visible.erase(box);
    }
}

bool ConsoleView::IsVisible(TextBox box) const {
    return m_visible.contains(box);
}

void ConsoleView::SetEnabled(Button button, bool enabled) {
    if (enabled) {
        m_enabled.insert(button);
    } else {
        m_enabled.erase(button);
    }
}

void ConsoleView::SetPanelText(std::string_view key, std::string_view text) {
    m_panels[std::string(key)] = std::string(text);
}

std::string ConsoleView::GetPanelText(std::string_view key) const {
    const auto found = m_panels.find(key);
    return found == m_panels.end() ? std::string() : found->second;
}

void ConsoleView::ShowMessageBox(std::string_view text) {
    // Nobody is there to close a box: the line is printed and the run goes on as after "OK".
    m_boxes.emplace_back(text);
    m_output.Message(text);
}

void ConsoleView::ThrowIfEnding() const {
    if (m_ending) {
        throw ProgramEnded{};
    }
}

void ConsoleView::ProcessEvents() {
    ProcessEventsFor(std::chrono::nanoseconds::max());
}

void ConsoleView::ProcessEventsFor(std::chrono::nanoseconds limit) {
    // Besides the serial port's notifier (data, errors), Ctrl+C's notifier wakes the wait.
    ThrowIfEnding();
    m_wait.Run(limit, [this] { return m_ending; });
    ThrowIfEnding();
}

void ConsoleView::Wait(std::chrono::milliseconds duration) {
    const QDeadlineTimer deadline(duration, Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        ProcessEventsFor(std::chrono::nanoseconds(deadline.remainingTimeNSecs()));
    }
}

}  // namespace q218
