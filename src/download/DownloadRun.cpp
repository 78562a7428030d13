#include "download/DownloadRun.h"

#include <algorithm>
#include <chrono>
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

// Waits until at least `count` characters are waiting. Characters already received raise
// no event, so the window's wait (which sleeps until one) is entered only while fewer are
// waiting: junk that is already buffered is read without a single wait. False once the
// line has vanished under the port (an adapter pulled out), which no amount of waiting
// brings back; a present but silent device is waited for without a limit.
bool WaitForInput(LinkContext& context, int count) {
    while (context.link.InBufferCount() < count) {
        if (context.link.LineLost()) {
            return false;
        }
        context.view.ProcessEvents();
    }
    return true;
}

DownloadEnding TransferFailed(UpdaterView& view) {
    // ShowMessageBox runs nested handlers; every button is disabled or only Exit is left.
    view.ShowMessageBox(kUpdateError);
    view.SetEnabled(Button::cmdExit, true);
    view.SetFocus(FocusTarget::cmdExit);
    return DownloadEnding::TransferFailed;
}

}  // namespace

DownloadEnding cmdUpdate_Click(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                               ReplyFields& fields) {
    SerialLink& link = context.link;
    UpdaterView& view = context.view;

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
        return TransferFailed(view);
    }
    link.Output(kResetCommand);

    // Waiting for the bootloader: whatever the application still says before it restarts
    // is read and dropped. Exit stays usable here; its handler ends the program by
    // throwing ProgramEnded out of ProcessEvents, which this run lets pass.
    do {
        if (!WaitForInput(context, kOneCharacter)) {
            return TransferFailed(view);
        }
    } while (link.Input() != std::string_view(&kEnq, 1));

    // Handshake. Characters already waiting behind ENQ count towards the two dropped ones.
    view.SetEnabled(Button::cmdExit, false);
    link.Output(std::string_view(&kAck, 1));
    if (!WaitForInput(context, kDroppedAfterAck)) {
        return TransferFailed(view);
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
    while (lineIndex <= lastIndex) {
        if (awaitReply) {
            if (!WaitForInput(context, kOneCharacter)) {
                return TransferFailed(view);
            }
            view.SetText(TextBox::Text1, link.Input());
            const std::string reply = view.GetText(TextBox::Text1);
            if (reply == kRepeat) {
                // The frame sent last is the line before. Before any frame there is none:
                // line 0 is sent, as it would have been after "T".
                if (lineIndex > 0) {
                    --lineIndex;
                }
                // Lets the window catch up without sleeping: the bootloader waits for the
                // frame, so nothing would wake a wait here.
                view.ProcessEventsFor(std::chrono::nanoseconds::zero());
            } else if (reply != kReady) {
                return TransferFailed(view);
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
            return DownloadEnding::ImageRejected;
        }
        if (outcome == RecordOutcome::Malformed) {
            return TransferFailed(view);
        }
        awaitReply = outcome == RecordOutcome::Sent;
        ++lineIndex;
    }

    // The end bytes cannot reach a device whose line has gone: no "Update complete!" then.
    if (link.LineLost()) {
        return TransferFailed(view);
    }
    link.Output(kEndColon);
    link.Output(kEndS);
    view.SetText(TextBox::Text2, kComplete);
    SettleDelay(context.clock, view);
    Detect(context, portNumber, fields);
    view.SetEnabled(Button::cmdExit, true);
    view.SetFocus(FocusTarget::cmdExit);
    if (link.PortOpen()) {
        link.SetPortOpen(false);
    }
    return DownloadEnding::Finished;
}

}  // namespace q218
