#include "link/SettleDelay.h"

#include <chrono>

namespace q218 {

namespace {

// The clock is read in whole seconds and the wait ends two whole seconds after the reading,
// so it lasts more than one and at most two seconds, whatever the phase of the start.
constexpr std::chrono::seconds kSettleTicks{2};

}  // namespace

void SettleDelay(const MonotonicClock& clock, UpdaterView& view) {
    const std::chrono::seconds deadline =
        std::chrono::floor<std::chrono::seconds>(clock.Now()) + kSettleTicks;
    // The window sleeps until an event or the deadline, whichever comes first.
    for (std::chrono::nanoseconds now = clock.Now(); now < deadline; now = clock.Now()) {
        view.ProcessEventsFor(deadline - now);
    }
}

}  // namespace q218
