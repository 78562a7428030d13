#pragma once
// The clock of the settle delay: monotonic, so a change of the wall clock (daylight
// saving, a time sync) during a wait can neither stretch nor cut it. Injectable, so tests
// and the in-memory simulated device run on a fake clock.

#include <chrono>

namespace q218 {

class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    // Time since an arbitrary fixed origin; never goes backwards.
    virtual std::chrono::nanoseconds Now() const = 0;
};

class SteadyClock final : public MonotonicClock {
public:
    std::chrono::nanoseconds Now() const override {
        return std::chrono::steady_clock::now().time_since_epoch();
    }
};

}  // namespace q218
