#pragma once
// What every user of the serial line needs at hand: the port, the window (for messages,
// panels and ProcessEvents) and the clock of the settle delay. The window logic owns all
// three and hands this bundle to the link and download subsystems.

#include <chrono>

#include "app/UpdaterView.h"
#include "link/MonotonicClock.h"
#include "link/SerialLink.h"

namespace q218 {

struct LinkContext {
    SerialLink& link;
    UpdaterView& view;
    const MonotonicClock& clock;
    // How long the download waits for the bootloader's ENQ (whatever comes before it) and
    // for each frame to be taken (BEL answers included); zero: without a limit, as the window
    // does (the technician ends a wait with Exit).
    std::chrono::nanoseconds replyLimit{};
};

}  // namespace q218
