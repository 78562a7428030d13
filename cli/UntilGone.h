#pragma once
// --until-gone: the station's wait between two units on one slot. It asks PORT once a second
// who is there and ends when the unit just served has left: the port vanished (the adapter
// or the hub port unplugged), nothing answered for a few queries in a row, or a complete reply
// names another serial number. A unit left in its bootloader answers with its model alone and
// so stays "present": the station never takes the same unit twice without it leaving.

#include "FlashOptions.h"
#include "SlotEvents.h"

namespace q218::flash {

// Returns kExitUpdated once the unit has gone (event "gone"), kExitInterrupted or
// kExitTerminated when a signal ended the wait. Writes nothing to the device but the query.
int WaitUntilGone(const FlashOptions& options, SlotEvents& events);

}  // namespace q218::flash
