#include "download/DownloadRun.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "download/Messages.h"
#include "download/RecordSend.h"
#include "link/SettleDelay.h"

namespace q218 {

namespace {

inline constexpr char kEnq = 0x05;               // the bootloader is running and asks for the host
inline constexpr char kAck = 0x06;               // the host answers ENQ with it
inline constexpr std::string_view kReady = "T";  // the bootloader wants the next line
inline constexpr std::string_view kRepeat = "\x07";  // BEL: send the last frame again
// Two bytes take 2 ms at 9600 baud; a port that holds them longer still sends them when it
// closes, as before, so the wait for them to leave is bounded well above that.
inline constexpr std::chrono::milliseconds kEndBytesLeaveWithin{500};
inline constexpr std::string_view kEndColon = ":";  // ":" then "S", two writes, end the transfer
inline constexpr std::string_view kEndS = "S";

// The download reads one character at a time.
inline constexpr int kOneCharacter = 1;
// After ACK the bootloader sends two characters that mean nothing to the host.
inline constexpr int kDroppedAfterAck = 2;

// The fill's share of the track when `lineIndex` has its turn. A one-line image has its
// only line's turn as the last one: full width, not 0/0.
float ProgressFraction(std::int32_t lineIndex, std::int32_t lastIndex) {
    if (lastIndex <= 0) {
        return 1.0F;
    }
    return static_cast<float>(static_cast<double>(lineIndex) / static_cast<double>(lastIndex));
}

// When a wait that starts now must end under the context's reply limit; none without one.
std::optional<std::chrono::nanoseconds> DeadlineFromNow(const LinkContext& context) {
    if (context.replyLimit <= std::chrono::nanoseconds::zero()) {
        return std::nullopt;
    }
    return context.clock.Now() + context.replyLimit;
}

// Waits through the window's events until `ready()` holds. LineLost once the line has
// vanished under the port (an adapter pulled out), which no amount of waiting brings back;
// otherwise NoReply at `deadline`, or no limit when there is none. `ready` is asked before
// each wait: what it waits for may be there already, and that raises no event to wake one.
template <typename Ready>
std::optional<DownloadEnding> WaitUntil(LinkContext& context, const Ready& ready,
                                        std::optional<std::chrono::nanoseconds> deadline) {
    while (!ready()) {
        if (context.link.LineLost()) {
            return DownloadEnding::LineLost;
        }
        if (!deadline) {
            context.view.ProcessEvents();
            continue;
        }
        const auto left = *deadline - context.clock.Now();
        if (left <= std::chrono::nanoseconds::zero()) {
            return DownloadEnding::NoReply;
        }
        context.view.ProcessEventsFor(left);
    }
    return std::nullopt;
}

// Waits until at least `count` characters are waiting: junk that is already buffered is read
// without a single wait. The caller sets the deadline for what it waits for as a whole, so
// that characters which are not the answer do not put it off.
std::optional<DownloadEnding> WaitForInput(LinkContext& context, int count,
                                           std::optional<std::chrono::nanoseconds> deadline) {
    return WaitUntil(
        context, [&context, count] { return context.link.InBufferCount() >= count; }, deadline);
}

}  // namespace

int CountFrames(const FirmwareImage& image) {
    int frames = 0;
    for (const std::string& line : image) {
        if (IsMarked(line)) {
            continue;
        }
        const RecordOutcome outcome = Record_Frame(line).outcome;
        if (outcome == RecordOutcome::End) {
            break;
        }
        frames += outcome == RecordOutcome::Sent ? 1 : 0;
    }
    return frames;
}

namespace {

// One run of the download: its steps share the link, the window, the image and the account,
// and each returns false once the run has reached its ending.
class DownloadSteps {
public:
    DownloadSteps(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                  ReplyFields& fields, DownloadResult& progress)
        : m_context(context),
          m_link(context.link),
          m_view(context.view),
          m_image(image),
          m_portNumber(portNumber),
          m_fields(fields),
          m_progress(progress) {}

    void Run() {
        m_progress = DownloadResult{};
        m_progress.framesTotal = CountFrames(m_image);
        Prepare();
        if (OpenAndReset() && AwaitBootloader() && Handshake() && Transfer()) {
            Finish();
        }
    }

private:
    // An empty "rev" panel means the device gave its model alone and may not take the reset
    // command, so the technician is asked to reset it by hand.
    void Prepare() {
        const bool knowsRevision = !m_view.GetPanelText(kPanelRevision).empty();
        m_view.SetText(TextBox::Text2, knowsRevision ? kResetting : kPleaseReset);
        m_view.SetFocus(FocusTarget::cmdExit);
        m_view.SetEnabled(Button::cmdOK, false);
        m_view.SetEnabled(Button::cmdUpdate, false);
        ClosePort();
        // Drops the tag line and every other line Tag_Read marked; for the rest of the program.
        std::erase_if(m_image, [](const std::string& line) { return IsMarked(line); });
        m_lastIndex = static_cast<std::int32_t>(m_image.size()) - 1;
    }

    bool OpenAndReset() {
        m_link.SetCommPort(m_portNumber);
        m_link.SetInputLen(kOneCharacter);
        m_link.SetSettings(kLineSettings);
        if (const OpenResult opened = m_link.SetPortOpen(true); !opened) {
            m_progress.openError = *opened.error;
            return Fail(DownloadEnding::NotOpened);
        }
        m_link.Output(kResetCommand);
        m_progress.resetSent = true;
        return true;
    }

    // Whatever the application still says before it restarts is read and dropped. Exit
    // stays usable here; its handler ends the program by throwing ProgramEnded out of
    // ProcessEvents, which this run lets pass. Under a reply limit the bootloader's ENQ must
    // come within it, whatever comes before.
    bool AwaitBootloader() {
        const auto enqDeadline = DeadlineFromNow(m_context);
        do {
            if (const auto failure = WaitForInput(m_context, kOneCharacter, enqDeadline)) {
                return Fail(*failure);
            }
        } while (m_link.Input() != std::string_view(&kEnq, 1));
        return true;
    }

    // Characters already waiting behind ENQ count towards the two dropped ones.
    bool Handshake() {
        m_view.SetEnabled(Button::cmdExit, false);
        m_link.Output(std::string_view(&kAck, 1));
        m_progress.handshakeDone = true;
        if (const auto failure =
                WaitForInput(m_context, kDroppedAfterAck, DeadlineFromNow(m_context))) {
            return Fail(*failure);
        }
        for (int i = 0; i < kDroppedAfterAck; ++i) {
            m_link.Input();
        }
        m_view.SetProgressBackground(kBlack);
        m_view.SetText(TextBox::Text2, kUpdating);
        return true;
    }

    // One reply before each line whose frame follows a sent one; a skipped line goes straight
    // on to the next line without one. Running past the last line (no end-of-file record, or
    // a skipped last line) ends the transfer as the end record does.
    bool Transfer() {
        m_lineIndex = 0;
        bool awaitReply = true;
        while (m_lineIndex <= m_lastIndex) {
            m_resending = false;
            if (awaitReply && !TakeReply()) {
                return false;
            }
            m_view.SetProgress(ProgressFraction(m_lineIndex, m_lastIndex));
            const RecordOutcome outcome = Record_Send(m_context, m_image[m_lineIndex]);
            if (outcome == RecordOutcome::End) {
                break;
            }
            if (outcome == RecordOutcome::Rejected) {
                return Reject();
            }
            if (outcome == RecordOutcome::Malformed) {
                return Fail(DownloadEnding::RecordMalformed);
            }
            if (outcome == RecordOutcome::Sent) {
                ++(m_resending ? m_progress.framesResent : m_progress.framesSent);
            }
            awaitReply = outcome == RecordOutcome::Sent;
            ++m_lineIndex;
        }
        return true;
    }

    // Reads the bootloader's answer to the frame sent last: "T" goes on to the next line, BEL
    // steps back to the line before it, to be sent again. Under a reply limit a frame must
    // be taken ("T") within it from its first send: a bootloader that asks for it again and
    // again (BEL) does not put the limit off.
    bool TakeReply() {
        if (!m_frameAskedAgain) {
            m_frameDeadline = DeadlineFromNow(m_context);
        }
        if (const auto failure = WaitForInput(m_context, kOneCharacter, m_frameDeadline)) {
            return Fail(*failure == DownloadEnding::NoReply && m_frameAskedAgain
                            ? DownloadEnding::FrameNotTaken
                            : *failure);
        }
        m_view.SetText(TextBox::Text1, m_link.Input());
        const std::string reply = m_view.GetText(TextBox::Text1);
        m_frameAskedAgain = reply == kRepeat;
        if (m_frameAskedAgain && m_frameDeadline && m_context.clock.Now() >= *m_frameDeadline) {
            // Answers already waiting raise no wait that could run out: checked here.
            return Fail(DownloadEnding::FrameNotTaken);
        }
        if (reply == kRepeat) {
            // The frame sent last is the line before. Before any frame there is none: line 0
            // is sent, as it would have been after "T".
            if (m_lineIndex > 0) {
                --m_lineIndex;
                m_resending = true;
            }
            // Lets the window catch up without sleeping: the bootloader waits for the frame,
            // so nothing would wake a wait here.
            m_view.ProcessEventsFor(std::chrono::nanoseconds::zero());
        } else if (reply != kReady) {
            m_progress.bootloaderReply = reply.empty() ? '\0' : reply.front();
            return Fail(DownloadEnding::BootloaderReply);
        }
        return true;
    }

    // The end bytes cannot reach a device whose line has gone: no "Update complete!" then.
    void Finish() {
        if (m_link.LineLost()) {
            Fail(DownloadEnding::LineLost);
            return;
        }
        m_link.Output(kEndColon);
        m_link.Output(kEndS);
        // Output only queues: the end bytes must have left before the update is called
        // complete. A line that goes while they wait fails their write, and the device, which
        // never saw them, still waits in its bootloader. Past the wait's limit the bytes are
        // left to the driver: only a lost line fails the update, asked after the wait because a
        // closed port holds nothing unsent.
        static_cast<void>(WaitUntil(
            m_context, [this] { return m_link.OutBufferCount() == 0; },
            m_context.clock.Now() + kEndBytesLeaveWithin));
        if (m_link.LineLost()) {
            Fail(DownloadEnding::LineLost);
            return;
        }
        m_progress.endSent = true;
        m_progress.ending = DownloadEnding::Finished;
        m_view.SetText(TextBox::Text2, kComplete);
        SettleDelay(m_context.clock, m_view);
        m_progress.after = Detect(m_context, m_portNumber, m_fields);
        LeaveOnlyExit();
        ClosePort();
    }

    // Record_Send has shown the goto message. Nothing of the rejected record went out; only
    // Exit is left to the technician.
    bool Reject() {
        ClosePort();
        LeaveOnlyExit();
        m_progress.ending = DownloadEnding::ImageRejected;
        return false;
    }

    // `why` is one of the endings of a failed transfer.
    bool Fail(DownloadEnding why) {
        m_progress.ending = why;
        // ShowMessageBox runs nested handlers; every button is disabled or only Exit is left.
        m_view.ShowMessageBox(kUpdateError);
        LeaveOnlyExit();
        return false;
    }

    void LeaveOnlyExit() {
        m_view.SetEnabled(Button::cmdExit, true);
        m_view.SetFocus(FocusTarget::cmdExit);
    }

    void ClosePort() {
        if (m_link.PortOpen()) {
            m_link.SetPortOpen(false);
        }
    }

    LinkContext& m_context;
    SerialLink& m_link;
    UpdaterView& m_view;
    FirmwareImage& m_image;
    std::int16_t m_portNumber;
    ReplyFields& m_fields;
    DownloadResult& m_progress;
    std::int32_t m_lastIndex = -1;
    // The transfer's place: the line to send next, and whether its frame is the last one
    // again after BEL (counted apart from the first sends).
    std::int32_t m_lineIndex = 0;
    bool m_resending = false;
    std::optional<std::chrono::nanoseconds> m_frameDeadline;
    bool m_frameAskedAgain = false;
};

}  // namespace

void RunDownload(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                 ReplyFields& fields, DownloadResult& progress) {
    DownloadSteps(context, image, portNumber, fields, progress).Run();
}

DownloadResult RunDownload(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                           ReplyFields& fields) {
    DownloadResult progress;
    RunDownload(context, image, portNumber, fields, progress);
    return progress;
}

}  // namespace q218
