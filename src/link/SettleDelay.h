#pragma once

#include "link/LinkContext.h"

namespace q218 {

// Waits more than one and at most two seconds: the clock is read in whole seconds and the
// wait ends when it reaches the reading plus two. Processes window events meanwhile,
// sleeping until an event or the deadline.
void SettleDelay(const MonotonicClock& clock, UpdaterView& view);

}  // namespace q218
