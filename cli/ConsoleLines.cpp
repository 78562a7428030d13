#include "ConsoleLines.h"

#include <cmath>

#include "download/RecordSend.h"

#ifdef _WIN32
#include <io.h>
#define q218_isatty _isatty
#define q218_fileno _fileno
#else
#include <unistd.h>
#define q218_isatty isatty
#define q218_fileno fileno
#endif

namespace q218::flash {

namespace {

constexpr int kBarWidth = 24;

std::string Clock(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

void FrameTally::Prepare(const FirmwareImage& image) {
    // The download drops every line marked with NUL before it sends; the frame builder
    // decides which of the rest go out as a frame.
    m_isFrame.clear();
    m_total = 0;
    bool ended = false;
    for (const std::string& line : image) {
        if (IsMarked(line)) {
            continue;
        }
        const RecordOutcome outcome = Record_Frame(line).outcome;
        ended = ended || outcome == RecordOutcome::End;
        const bool isFrame = outcome == RecordOutcome::Sent;
        m_isFrame.push_back(isFrame);
        m_total += isFrame && !ended ? 1 : 0;
    }
    m_lastIndex = static_cast<int>(m_isFrame.size()) - 1;
    m_sent = 0;
    m_resent = 0;
    m_previousTurn.reset();
}

void FrameTally::Turn(float fraction) {
    const long line = m_lastIndex <= 0 ? 0 : std::lround(double{fraction} * m_lastIndex);
    if (m_previousTurn == line) {
        ++m_resent;
    } else if (line >= 0 && line < static_cast<long>(m_isFrame.size()) && m_isFrame[line]) {
        ++m_sent;
    }
    m_previousTurn = line;
}

ConsoleLines::ConsoleLines(std::FILE* stream, bool quiet)
    : m_stream(stream), m_quiet(quiet), m_terminal(q218_isatty(q218_fileno(stream)) != 0) {}

void ConsoleLines::CloseProgressLine() {
    if (m_lineOpen) {
        std::fputc('\n', m_stream);
        m_lineOpen = false;
    }
}

void ConsoleLines::Message(std::string_view text) {
    if (m_quiet) {
        return;
    }
    CloseProgressLine();
    std::fprintf(m_stream, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(m_stream);
}

void ConsoleLines::Error(std::string_view text) {
    CloseProgressLine();
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
    if (!m_transferring) {
        return;
    }
    m_tally.Turn(fraction);
    if (m_quiet) {
        return;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const int percent = static_cast<int>(std::floor(fraction * 100.0F));
    if (!m_terminal) {
        // A log gets a plain line at every 10 %.
        if (percent / 10 <= m_lastTenth) {
            return;
        }
        m_lastTenth = percent / 10;
        std::fprintf(m_stream, "Progress: %d %% (%d of %d frames, %d sent again, %.1f s)\n",
                     m_lastTenth * 10, m_tally.Sent(), m_tally.Total(), m_tally.Resent(), elapsed);
        std::fflush(m_stream);
        return;
    }
    const int filled = static_cast<int>(std::lround(fraction * kBarWidth));
    const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');
    const std::string left = fraction > 0.0F ? Clock(elapsed / fraction * (1.0 - fraction)) : "-";
    // Back to the start of the line, draw, clear the rest of an older, longer line.
    std::fprintf(m_stream, "\r[%s] %3d %%  frame %d/%d  resent %d  %s elapsed  %s left\033[K",
                 bar.c_str(), percent, m_tally.Sent(), m_tally.Total(), m_tally.Resent(),
                 Clock(elapsed).c_str(), left.c_str());
    std::fflush(m_stream);
    m_lineOpen = true;
}

}  // namespace q218::flash
