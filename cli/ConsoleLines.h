#pragma once
// What q218-flash prints while it works: the window's messages as lines, its own notes and
// errors, and the progress of the transfer (one redrawn line on a terminal, a line at every
// 10 % otherwise), with the frames counted from the progress the download reports.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/qt/ConsoleView.h"
#include "image/FirmwareImage.h"

namespace q218::flash {

// Counts the frames the download writes from the turns it reports: every line's turn moves
// the bar; a turn at the same share as the one before is the last frame sent again after BEL
// (the bar steps back one line); a turn of a line that goes out as no frame (the
// configuration word, the end record) writes nothing.
class FrameTally {
public:
    // `image`: the image as "&Update" will take it, marked lines still in.
    void Prepare(const FirmwareImage& image);
    // A line's turn, as the share of the image the bar shows.
    void Turn(float fraction);

    int Sent() const { return m_sent; }
    int Resent() const { return m_resent; }
    // Frames of a whole update without BEL.
    int Total() const { return m_total; }

private:
    std::vector<bool> m_isFrame;  // per line of the image as the download sends it
    int m_lastIndex = 0;
    int m_total = 0;
    int m_sent = 0;
    int m_resent = 0;
    std::optional<long> m_previousTurn;
};

class ConsoleLines final : public ConsoleOutput {
public:
    // Messages and progress go to `stream`; nothing of them when quiet. Errors go to
    // standard error.
    ConsoleLines(std::FILE* stream, bool quiet);

    FrameTally& Tally() { return m_tally; }

    void Message(std::string_view text) override;
    void TransferStarted() override;
    void Progress(float fraction) override;
    // A line of the program's own (a note, a warning), printed like a message.
    void Note(std::string_view text) { Message(text); }
    // Always printed, on standard error.
    void Error(std::string_view text);

private:
    void CloseProgressLine();

    std::FILE* m_stream;
    bool m_quiet;
    bool m_terminal;
    FrameTally m_tally;
    std::chrono::steady_clock::time_point m_start;
    bool m_transferring = false;
    int m_lastTenth = -1;
    bool m_lineOpen = false;
};

}  // namespace q218::flash
