#pragma once
// The update itself, run inside the "&Update" click: reset into the bootloader, handshake,
// one frame per image line with "T"/BEL acknowledgements, ":" "S", a fresh identification.

#include <cstdint>

#include "image/FirmwareImage.h"
#include "link/Identification.h"
#include "link/LinkContext.h"

namespace q218 {

inline constexpr std::string_view kResetCommand = "977\r";

// How a download ended, and for a failed transfer why: one value.
enum class DownloadEnding {
    Unfinished,     // still running, or left by ProgramEnded (Exit, Ctrl+C) before an ending
    Finished,       // "Update complete!"
    ImageRejected,  // the goto message
    // "Update Error.", for one of these reasons:
    NotOpened,        // the port would not open: nothing was sent
    LineLost,         // the line vanished under the open port (an adapter pulled out)
    NoReply,          // nothing came within the context's reply limit
    BootloaderReply,  // the bootloader answered a frame with neither "T" nor BEL
    FrameNotTaken,    // the bootloader asked for one frame again (BEL) past the reply limit
    RecordMalformed,  // an image line no frame can carry
};

// The transfer failed ("Update Error."): the ending is one of its reasons.
constexpr bool IsTransferFailure(DownloadEnding ending) {
    return ending >= DownloadEnding::NotOpened;
}

// What the run did, kept up to date while it runs so that a caller can read how far it got
// even when ProgramEnded cut it short.
struct [[nodiscard]] DownloadResult {
    DownloadEnding ending = DownloadEnding::Unfinished;
    char bootloaderReply = 0;    // the character seen, when the ending is BootloaderReply
    OpenError openError;         // why the port would not open, when the ending is NotOpened
    bool resetSent = false;      // "977" CR written: from here the device may be in its bootloader
    bool handshakeDone = false;  // the bootloader's ENQ answered with ACK
    int framesTotal = 0;         // frames of the whole image when no frame is asked for again
    int framesSent = 0;          // frames written for the first time
    int framesResent = 0;        // frames written again because the bootloader answered BEL
    bool endSent = false;        // ":" "S" written: the transfer is over, the new firmware runs
    // The identification after "Update complete!"; status NotOpened when none was made.
    DeviceInfo after;

    // The reset command went out and the transfer has not ended: the device waits in its
    // bootloader for an update.
    bool InBootloader() const { return resetSent && !endSent; }
};

// Runs the download to one of its endings, keeping `progress` up to date as it goes: a caller
// reads how far it got even when ProgramEnded cut it short. Compacts `image` in place
// (permanently). Every ending leaves only Exit enabled, with the focus. Finished and
// ImageRejected close the port; a failed transfer shows "Update Error." (also for a port that
// will not open and for a line that vanished) and leaves the port as it is. ProgramEnded,
// thrown by Exit while the run waits for the bootloader, passes through.
void RunDownload(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                 ReplyFields& fields, DownloadResult& progress);
// The same, for a caller that needs no account while it runs: returns the account.
[[nodiscard]] DownloadResult RunDownload(LinkContext& context, FirmwareImage& image,
                                         std::int16_t portNumber, ReplyFields& fields);

// Frames a whole transfer of `image` writes when no frame is asked for again: the lines
// before the end record that go out as a frame (marked lines are dropped first).
int CountFrames(const FirmwareImage& image);

}  // namespace q218
