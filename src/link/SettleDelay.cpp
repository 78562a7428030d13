#include "link/SettleDelay.h"

#include <chrono>

namespace q218 {

namespace {

// The clock is read in whole seconds and the wait ends two whole seconds after the reading,
// so it lasts more than one and at most two seconds, whatever the phase of the start.
constexpr std::chrono::seconds kSettleTicks{2};

std::chrono::seconds WholeSeconds(const MonotonicClock& clock) {
    return std::chrono::floor<std::chrono::seconds>(clock.Now());
}

}  // namespace

void SettleDelay(const MonotonicClock& clock, UpdaterView& view) {
    const std::chrono::seconds deadline = WholeSeconds(clock) + kSettleTicks;
    while (WholeSeconds(clock) < deadline) {
        view.ProcessEvents();
    }
}

}  // namespace q218
