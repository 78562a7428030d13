#pragma once
// The update itself, run inside the "&Update" click: reset into the bootloader, handshake,
// one frame per image line with "T"/BEL acknowledgements, ":" "S", a fresh identification.

#include <cstdint>

#include "image/FirmwareImage.h"
#include "link/Identification.h"
#include "link/LinkContext.h"

namespace q218 {

inline constexpr std::string_view kResetCommand = "977\r";

enum class DownloadEnding {
    Finished,        // "Update complete!"
    TransferFailed,  // "Update Error."
    ImageRejected,   // the goto message
};

// Runs the download to one of its endings. Compacts `image` in place (permanently). Every
// ending leaves only Exit enabled, with the focus. Finished and ImageRejected close the port;
// TransferFailed shows "Update Error." (also for a port that will not open and for a line
// that vanished) and leaves the port as it is. ProgramEnded, thrown by Exit while the run
// waits for the bootloader, passes through.
DownloadEnding cmdUpdate_Click(LinkContext& context, FirmwareImage& image, std::int16_t portNumber,
                               ReplyFields& fields);

}  // namespace q218
