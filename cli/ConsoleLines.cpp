#include "ConsoleLines.h"

#include <algorithm>
#include <cmath>

#include "ConsoleMode.h"
#include "app/DeviceText.h"
#include "app/Main.h"
#include "download/Messages.h"
#include "link/PortScan.h"

namespace q218::flash {

namespace {

constexpr int kLongestBar = 24;
constexpr int kShortestBar = 10;

std::string Clock(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// The window's texts that name its controls, as a terminal user reads them: the connect
// prompt is dropped (the next line names the port being tried), the serial-number prompt
// is said by the program itself in terms of --serial, the reset prompt names the button.
std::optional<std::string_view> ForTerminal(std::string_view text) {
    if (text == kConnectMessage || text == kEnterSerialMessage) {
        return std::nullopt;
    }
    if (text == kPleaseReset) {
        return "Press the Q218's reset button to start the update (it reported no revision, so "
               "it may not take the reset command).";
    }
    return text;
}

}  // namespace

std::string ProgressLine(float fraction, const DownloadResult& run, double elapsed, int columns) {
    const int width = std::max(columns - 1, 1);
    const int percent = static_cast<int>(std::floor(fraction * 100.0F));
    const std::string left = fraction > 0.0F ? Clock(elapsed / fraction * (1.0 - fraction)) : "-";
    char text[160];
    std::snprintf(text, sizeof text, " %3d %%  frame %d/%d  resent %d  %s elapsed  %s left",
                  percent, run.framesSent, run.framesTotal, run.framesResent,
                  Clock(elapsed).c_str(), left.c_str());
    std::string counts = text;
    // The bar takes what the counts leave, between its shortest and longest; below its
    // shortest it goes, and the counts are cut at the edge.
    const int room = width - static_cast<int>(counts.size()) - 2;
    const int barWidth = std::min(room, kLongestBar);
    std::string line;
    if (barWidth >= kShortestBar) {
        const int filled = static_cast<int>(std::lround(fraction * static_cast<float>(barWidth)));
        // Appended in place: g++ 12 at -O3 warns falsely (-Wrestrict) on a chain of
        // std::string operator+ here.
        line.reserve(static_cast<std::size_t>(barWidth) + 2 + counts.size());
        line.push_back('[');
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(barWidth - filled), '-');
        line.push_back(']');
    }
    line += counts;
    if (static_cast<int>(line.size()) > width) {
        line.resize(static_cast<std::size_t>(width));
    }
    return line;
}

ConsoleLines::ConsoleLines(std::FILE* stream, bool quiet, bool verbose)
    : m_stream(stream),
      m_quiet(quiet),
      m_verbose(verbose),
      m_terminal(IsTerminal(stream)),
      m_errorsToTerminal(IsTerminal(stderr)) {}

void ConsoleLines::DropTerminal() {
    m_terminalGone = true;
}

void ConsoleLines::CloseProgressLine() {
    if (m_lineOpen) {
        if (Printing()) {
            std::fputc('\n', m_stream);
        }
        m_lineOpen = false;
    }
}

void ConsoleLines::Message(std::string_view text) {
    const std::optional<std::string_view> shown = ForTerminal(text);
    if (!shown || !Printing()) {
        return;
    }
    CloseProgressLine();
    std::fprintf(m_stream, "%.*s\n", static_cast<int>(shown->size()), shown->data());
    std::fflush(m_stream);
}

void ConsoleLines::Verbose(std::string_view text) {
    if (!m_verbose || !Printing()) {
        return;
    }
    CloseProgressLine();
    const double since =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_created).count();
    std::fprintf(m_stream, "[%9.3f s] %.*s\n", since, static_cast<int>(text.size()), text.data());
    std::fflush(m_stream);
}

void ConsoleLines::Received(std::string_view bytes) {
    if (m_verbose) {
        Verbose("bootloader answered \"" + VisibleAscii(bytes) + "\"");
    }
}

void ConsoleLines::Error(std::string_view text) {
    CloseProgressLine();
    if (m_errorsToTerminal && m_terminalGone) {
        return;
    }
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

void ConsoleLines::TransferStarted() {
    m_transferring = true;
    m_start = std::chrono::steady_clock::now();
    m_lastTenth = -1;
}

void ConsoleLines::Progress(float fraction) {
    // The start-up empties the bar too; only the transfer's turns count.
    if (!m_transferring || !Printing()) {
        return;
    }
    const DownloadResult none;
    const DownloadResult& run = m_run != nullptr ? *m_run : none;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    if (!m_terminal || m_verbose) {
        // A log (and a verbose run, whose answers are lines) gets a plain line at every 10 %.
        const int tenth = static_cast<int>(std::floor(fraction * 10.0F));
        if (tenth <= m_lastTenth) {
            return;
        }
        m_lastTenth = tenth;
        std::fprintf(m_stream, "Progress: %d %% (%d of %d frames, %d sent again, %.1f s)\n",
                     m_lastTenth * 10, run.framesSent, run.framesTotal, run.framesResent, elapsed);
        std::fflush(m_stream);
        return;
    }
    // Back to the start of the line, draw, clear the rest of an older, longer line.
    std::string line = ProgressLine(fraction, run, elapsed, TerminalColumns(m_stream));
    if (m_sequences) {
        std::fprintf(m_stream, "\r%s\033[K", line.c_str());
    } else {
        const std::size_t length = line.size();
        line.resize(std::max(length, m_lastLength), ' ');
        m_lastLength = length;
        std::fprintf(m_stream, "\r%s", line.c_str());
    }
    std::fflush(m_stream);
    m_lineOpen = true;
}

}  // namespace q218::flash
