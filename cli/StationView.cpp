#include "StationView.h"

#include <algorithm>
#include <cmath>
#include <regex>

#include "ConsoleMode.h"

namespace q218::flash {

namespace {

// Ten redraws a second at most: smooth to the eye, cheap beside sixteen transfers.
constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr int kBarWidth = 16;

// The live view redraws its lines in place, moving the cursor up: a terminal that takes
// control sequences, or a Windows console once they are turned on. A console or a terminal
// that refuses them, a file, a pipe or NUL (which Windows calls a terminal too) gets plain
// lines.
bool TakesLiveView(std::FILE* stream) {
    return PrepareConsole(stream) == ConsoleMode::Sequences;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() > width) {
        text.resize(width);
    }
    text.resize(width, ' ');
    return text;
}

}  // namespace

std::string SlotLabel(const std::string& port) {
    // The USB port chain names a hub's socket, whatever adapter is plugged into it.
    static const std::regex usbChain(R"(usb(?:v\d+)?-\d+:([0-9.]+)(?::|-|$))");
    std::smatch match;
    if (port.find("/by-path/") != std::string::npos && std::regex_search(port, match, usbChain)) {
        return match[1].str();
    }
    const std::size_t slash = port.find_last_of("/\\");
    return slash == std::string::npos ? port : port.substr(slash + 1);
}

std::string SlotRow(const SlotLine& slot, int columns) {
    const auto width = static_cast<std::size_t>(std::max(columns - 1, 1));
    std::string line = Padded(slot.label, 10) + " " +
                       Padded(slot.serial.empty() ? "-" : slot.serial, 8) + " " +
                       Padded(slot.state, 18);
    if (slot.framesTotal > 0) {
        const double fraction =
            std::clamp(static_cast<double>(slot.framesDone) / slot.framesTotal, 0.0, 1.0);
        const int filled = static_cast<int>(std::lround(fraction * kBarWidth));
        char text[64];
        std::snprintf(text, sizeof text, " [%s%s] %3d %%", std::string(filled, '#').c_str(),
                      std::string(kBarWidth - filled, '-').c_str(),
                      static_cast<int>(std::floor(fraction * 100.0)));
        line += text;
        if (slot.secondsLeft >= 0.0) {
            const long left = std::lround(slot.secondsLeft);
            std::snprintf(text, sizeof text, " %ld:%02ld left", left / 60, left % 60);
            line += text;
        }
    }
    line += "  " + slot.port;
    if (line.size() > width) {
        line.resize(width);
    }
    return line;
}

StationView::StationView(std::FILE* stream, bool quiet)
    : m_stream(stream), m_quiet(quiet), m_terminal(!quiet && TakesLiveView(stream)) {
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(kRedrawInterval);
    QObject::connect(&m_redraw, &QTimer::timeout, [this] { Draw(); });
}

void StationView::SetSlots(std::vector<SlotLine> lines) {
    m_slots = std::move(lines);
    Changed();
}

void StationView::Changed() {
    if (m_terminal && !m_closed && !m_redraw.isActive()) {
        m_redraw.start();
    }
}

void StationView::Event(std::size_t index, const std::string& text) {
    if (m_quiet || (m_terminal && !m_closed)) {
        return;
    }
    std::fprintf(m_stream, "[%s] %s\n", m_slots[index].label.c_str(), text.c_str());
    std::fflush(m_stream);
}

void StationView::Note(const std::string& text) {
    if (m_terminal && m_drawn > 0 && !m_closed) {
        // Up to the first line of the view, the note over it, and the view again below.
        std::fprintf(m_stream, "\033[%dA\r%s\033[K\n", m_drawn, text.c_str());
        m_drawn = 0;
        Draw();
        return;
    }
    std::fprintf(m_stream, "%s\n", text.c_str());
    std::fflush(m_stream);
}

void StationView::Draw() {
    if (!m_terminal || m_closed) {
        return;
    }
    const int columns = TerminalColumns(m_stream);
    std::string screen;
    if (m_drawn > 0) {
        screen += "\033[" + std::to_string(m_drawn) + "A";
    }
    for (const SlotLine& slot : m_slots) {
        screen += "\r" + SlotRow(slot, columns) + "\033[K\n";
    }
    std::fwrite(screen.data(), 1, screen.size(), m_stream);
    std::fflush(m_stream);
    m_drawn = static_cast<int>(m_slots.size());
}

void StationView::Close() {
    m_redraw.stop();
    Draw();
    m_closed = true;
}

}  // namespace q218::flash
