#pragma once
// What q218-flash prints while it works: the window's messages as lines (those made for the
// window's controls in the terminal's own words), its own notes and errors, and the progress
// of the transfer (one redrawn line that fits the terminal's width, a line at every 10 %
// otherwise), with the frame counts the download keeps. Device bytes never reach the
// terminal raw: see DeviceText.h.

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "ConsoleView.h"
#include "download/DownloadRun.h"

namespace q218::flash {

class ConsoleLines final : public ConsoleOutput {
public:
    // Messages and progress go to `stream`; nothing of them when quiet; with `verbose` every
    // answer of the bootloader too. Errors go to standard error.
    ConsoleLines(std::FILE* stream, bool quiet, bool verbose = false);

    // The run whose frame counts the progress line shows, as the download keeps them.
    void Follow(const DownloadResult& run) { m_run = &run; }
    // The terminal went away (SIGHUP): nothing more is written to a terminal; a file or a
    // pipe still gets its lines.
    void DropTerminal();
    // The terminal takes no ESC [K (a legacy Windows console, TERM=dumb): the progress line
    // is redrawn with \r alone, padded with spaces over a longer line before it.
    void RedrawWithoutSequences() { m_sequences = false; }

    void Message(std::string_view text) override;
    void TransferStarted() override;
    void Progress(float fraction) override;
    void Received(std::string_view bytes) override;
    // A line of the program's own (a note, a warning), printed like a message.
    void Note(std::string_view text) { Message(text); }
    // With --verbose only: a line with the time since the start.
    void Verbose(std::string_view text);
    // Always printed, on standard error.
    void Error(std::string_view text);

private:
    void CloseProgressLine();
    bool Printing() const { return !m_quiet && !(m_terminal && m_terminalGone); }

    std::FILE* m_stream;
    bool m_quiet;
    bool m_verbose;
    bool m_terminal;
    bool m_errorsToTerminal;
    bool m_terminalGone = false;
    const DownloadResult* m_run = nullptr;
    std::chrono::steady_clock::time_point m_created = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_start;
    bool m_transferring = false;
    int m_lastTenth = -1;
    bool m_lineOpen = false;
    bool m_sequences = true;
    std::size_t m_lastLength = 0;
};

// The progress line for a terminal `columns` wide: never longer than columns - 1, so it
// never wraps; its parts are dropped from the right as the width shrinks. Pure.
std::string ProgressLine(float fraction, const DownloadResult& run, double elapsedSeconds,
                         int columns);

}  // namespace q218::flash
