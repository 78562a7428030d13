// The settle delay: whole seconds of the injected monotonic clock, window events between
// polls.

#include "link/SettleDelay.h"

#include <chrono>

#include <gtest/gtest.h>

#include "sim/FakeClock.h"
#include "support/FakeView.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;

struct PhaseRow {
    const char* name;
    std::chrono::nanoseconds start;
    std::chrono::nanoseconds step;
    std::chrono::nanoseconds lasts;
};

TEST(SettleDelayTest, LastsMoreThanOneAndAtMostTwoSeconds) {
    constexpr std::chrono::nanoseconds kCentury = std::chrono::hours(24 * 365 * 100);
    const PhaseRow rows[] = {
        {"on a whole second", 7s, 1ms, 2s},
        {"just after a whole second", 7s + 1ns, 1ms, 2s - 1ns},
        {"a quarter into a second", 7s + 250ms, 1ms, 1750ms},
        {"just before a whole second", 7s + 999ms, 1ms, 1001ms},
        {"a coarse step ends at the deadline, not past it", 7s + 300ms, 400ms, 1700ms},
        {"a century after the origin", kCentury + 500ms, 1ms, 1500ms},
    };
    for (const PhaseRow& row : rows) {
        SCOPED_TRACE(row.name);
        sim::FakeClock clock;
        clock.Set(row.start);
        test::FakeView view(clock, row.step);
        SettleDelay(clock, view);
        const auto lasted = clock.Now() - row.start;
        EXPECT_EQ(lasted, row.lasts);
        EXPECT_GT(lasted, 1s);
        EXPECT_LE(lasted, 2s + row.step);
        // Each poll that found the deadline ahead let the window run once.
        EXPECT_EQ(view.ProcessEventsCalls(), (row.lasts + row.step - 1ns) / row.step);
    }
}

TEST(SettleDelayTest, ExitDuringTheDelayEndsItAtOnce) {
    sim::FakeClock clock;
    test::FakeView view(clock);
    const auto start = clock.Now();
    view.When([&] { return clock.Now() - start >= 500ms; }, [] { throw ProgramEnded{}; });
    EXPECT_THROW(SettleDelay(clock, view), ProgramEnded);
    EXPECT_EQ(clock.Now() - start, 500ms);
}

// The delay reads no clock but the one it is given: with a fake clock that jumps ahead it
// ends after four polls; with the fake clock standing still it does not end however many
// times the window runs, and ends as soon as that clock moves on. So a wall-clock change
// cannot reach it; the updater's clock itself is the monotonic steady clock. (This cannot
// show how the operating system's steady clock behaves when the system time is set.)
TEST(SettleDelayTest, FollowsOnlyTheInjectedClock) {
    {
        SCOPED_TRACE("fake clock far ahead");
        sim::FakeClock clock;
        clock.Set(3s);
        test::FakeView view(clock, 500ms);
        SettleDelay(clock, view);
        EXPECT_EQ(view.ProcessEventsCalls(), 4);
    }
    {
        SCOPED_TRACE("fake clock standing still");
        constexpr int kPollsStandingStill = 10'000;
        sim::FakeClock clock;
        test::FakeView view(clock, 0ns);
        int polls = 0;
        view.OnProcessEvents([&] {
            if (++polls == kPollsStandingStill) {
                clock.Advance(2s);
            }
        });
        SettleDelay(clock, view);
        EXPECT_EQ(polls, kPollsStandingStill) << "ended before the injected clock moved";
    }
}

}  // namespace
}  // namespace q218
