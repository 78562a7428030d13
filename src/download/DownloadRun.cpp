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
inline constexpr std::string_view kEndColon = ":";   // ":" then "S", two writes, end the transfer
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

// Waits until at least `count` characters are waiting. Characters already received raise
// no event, so the window's wait (which sleeps until one) is entered only while fewer are
// waiting: junk that is already buffered is read without a single wait. LineLost once the
// line has vanished under the port (an adapter pulled out), which no amount of waiting
// brings back; a present but silent device is waited for until `deadline`, without a limit
// when there is none. The caller sets the deadline for what it waits for as a whole, so
// that characters which are not the answer do not put it off.
FailureCause WaitForInput(LinkContext& context, int count,
                          std::optional<std::chrono::nanoseconds> deadline) {
    while (context.link.InBufferCount() < count) {
        if (context.link.LineLost()) {
            return FailureCause::LineLost;
        }
        if (!deadline) {
            context.view.ProcessEvents();
            continue;
        }
        const auto left = *deadline - context.clock.Now();
        if (left <= std::chrono::nanoseconds::zero()) {
            return FailureCause::NoReply;
        }
        context.view.ProcessEventsFor(left);
    }
    return FailureCause::None;
}

DownloadResult TransferFailed(UpdaterView& view, DownloadResult& progress, FailureCause cause) {
    progress.ending = DownloadEnding::TransferFailed;
    progress.cause = cause;
    // ShowMessageBox runs nested handlers; every button is disabled or only Exit is left.
    view.ShowMessageBox(kUpdateError);
    view.SetEnabled(Button::cmdExit, true);
    view.SetFocus(FocusTarget::cmdExit);
    return progress;
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

DownloadResult cmdUpdate_Click(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                               ReplyFields& fields) {
    DownloadResult progress;
    return cmdUpdate_Click(context, image, portNumber, fields, progress);
}

DownloadResult cmdUpdate_Click(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                               ReplyFields& fields, DownloadResult& progress) {
    SerialLink& link = context.link;
    UpdaterView& view = context.view;
    progress = DownloadResult{};
    progress.framesTotal = CountFrames(image);

    // Preparing. An empty "rev" panel means the device gave its model alone and may not
    // take the reset command, so the technician is asked to reset it by hand.
    const bool knowsRevision = !view.GetPanelText(kPanelRevision).empty();
    view.SetText(TextBox::Text2, knowsRevision ? kResetting : kPleaseReset);
    view.SetFocus(FocusTarget::cmdExit);
    view.SetEnabled(Button::cmdOK, false);
    view.SetEnabled(Button::cmdUpdate, false);
    if (link.PortOpen()) {
        link.SetPortOpen(false);
    }
    // Drops the tag line and every other line Tag_Read marked; for the rest of the program.
    std::erase_if(image, [](const std::string& line) { return IsMarked(line); });
    const auto lastIndex = static_cast<std::int32_t>(image.size()) - 1;

    link.SetCommPort(portNumber);
    link.SetInputLen(kOneCharacter);
    link.SetSettings(kLineSettings);
    if (!link.SetPortOpen(true)) {
        return TransferFailed(view, progress, FailureCause::PortNotOpened);
    }
    link.Output(kResetCommand);
    progress.resetSent = true;

    // Waiting for the bootloader: whatever the application still says before it restarts
    // is read and dropped. Exit stays usable here; its handler ends the program by
    // throwing ProgramEnded out of ProcessEvents, which this run lets pass.
    // Under a reply limit the bootloader's ENQ must come within it, whatever comes before.
    const auto enqDeadline = DeadlineFromNow(context);
    do {
        if (const FailureCause cause = WaitForInput(context, kOneCharacter, enqDeadline);
            cause != FailureCause::None) {
            return TransferFailed(view, progress, cause);
        }
    } while (link.Input() != std::string_view(&kEnq, 1));

    // Handshake. Characters already waiting behind ENQ count towards the two dropped ones.
    view.SetEnabled(Button::cmdExit, false);
    link.Output(std::string_view(&kAck, 1));
    progress.handshakeDone = true;
    if (const FailureCause cause =
            WaitForInput(context, kDroppedAfterAck, DeadlineFromNow(context));
        cause != FailureCause::None) {
        return TransferFailed(view, progress, cause);
    }
    for (int i = 0; i < kDroppedAfterAck; ++i) {
        link.Input();
    }
    view.SetProgressBackground(kBlack);
    view.SetText(TextBox::Text2, kUpdating);

    // Transferring: one reply before each line whose frame follows a sent one; a skipped
    // line goes straight on to the next line without one. Running past the last line (no
    // end-of-file record, or a skipped last line) ends the transfer as the end record does.
    std::int32_t lineIndex = 0;
    bool awaitReply = true;
    // Under a reply limit a frame must be taken ("T") within it from its first send: a
    // bootloader that asks for it again and again (BEL) does not put the limit off.
    std::optional<std::chrono::nanoseconds> frameDeadline;
    bool frameAskedAgain = false;
    while (lineIndex <= lastIndex) {
        // A frame after BEL is the last one again: counted apart from the first sends.
        bool resending = false;
        if (awaitReply) {
            if (!frameAskedAgain) {
                frameDeadline = DeadlineFromNow(context);
            }
            if (const FailureCause cause = WaitForInput(context, kOneCharacter, frameDeadline);
                cause != FailureCause::None) {
                return TransferFailed(view, progress,
                                      cause == FailureCause::NoReply && frameAskedAgain
                                          ? FailureCause::FrameNotTaken
                                          : cause);
            }
            view.SetText(TextBox::Text1, link.Input());
            const std::string reply = view.GetText(TextBox::Text1);
            frameAskedAgain = reply == kRepeat;
            if (frameAskedAgain && frameDeadline && context.clock.Now() >= *frameDeadline) {
                // Answers already waiting raise no wait that could run out: checked here.
                return TransferFailed(view, progress, FailureCause::FrameNotTaken);
            }
            if (reply == kRepeat) {
                // The frame sent last is the line before. Before any frame there is none:
                // line 0 is sent, as it would have been after "T".
                if (lineIndex > 0) {
                    --lineIndex;
                    resending = true;
                }
                // Lets the window catch up without sleeping: the bootloader waits for the
                // frame, so nothing would wake a wait here.
                view.ProcessEventsFor(std::chrono::nanoseconds::zero());
            } else if (reply != kReady) {
                progress.bootloaderReply = reply.empty() ? '\0' : reply.front();
                return TransferFailed(view, progress, FailureCause::BootloaderReply);
            }
        }
        view.SetProgress(ProgressFraction(lineIndex, lastIndex));

        const RecordOutcome outcome = Record_Send(context, image[lineIndex]);
        if (outcome == RecordOutcome::End) {
            break;
        }
        if (outcome == RecordOutcome::Rejected) {
            // Record_Send has shown the goto message. Nothing of the rejected record went
            // out; only Exit is left to the technician.
            if (link.PortOpen()) {
                link.SetPortOpen(false);
            }
            view.SetEnabled(Button::cmdExit, true);
            view.SetFocus(FocusTarget::cmdExit);
            progress.ending = DownloadEnding::ImageRejected;
            return progress;
        }
        if (outcome == RecordOutcome::Malformed) {
            return TransferFailed(view, progress, FailureCause::RecordMalformed);
        }
        if (outcome == RecordOutcome::Sent) {
            ++(resending ? progress.framesResent : progress.framesSent);
        }
        awaitReply = outcome == RecordOutcome::Sent;
        ++lineIndex;
    }

    // The end bytes cannot reach a device whose line has gone: no "Update complete!" then.
    if (link.LineLost()) {
        return TransferFailed(view, progress, FailureCause::LineLost);
    }
    link.Output(kEndColon);
    link.Output(kEndS);
    progress.endSent = true;
    progress.ending = DownloadEnding::Finished;
    view.SetText(TextBox::Text2, kComplete);
    SettleDelay(context.clock, view);
    progress.after = Detect(context, portNumber, fields);
    view.SetEnabled(Button::cmdExit, true);
    view.SetFocus(FocusTarget::cmdExit);
    if (link.PortOpen()) {
        link.SetPortOpen(false);
    }
    return progress;
}

}  // namespace q218
