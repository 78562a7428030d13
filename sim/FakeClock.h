#pragma once
// A clock that moves only when told to: the time base of every in-memory test, so that the
// settle delay and the simulated 9600-baud line run deterministically and fast.

#include <chrono>

#include "link/MonotonicClock.h"

namespace q218::sim {

class FakeClock final : public MonotonicClock {
public:
    std::chrono::nanoseconds Now() const override { return m_now; }
    void Advance(std::chrono::nanoseconds step) { m_now += step; }
    void Set(std::chrono::nanoseconds now) { m_now = now; }

private:
    // Not at zero: a wait that starts at an odd moment inside a second is the usual case.
    std::chrono::nanoseconds m_now = std::chrono::milliseconds(1'000'250);
};

}  // namespace q218::sim
