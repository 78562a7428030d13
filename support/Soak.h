#pragma once
// The soak: whole updates on the headless window driven as a technician would ("OK", a
// serial number typed when asked, "&Update", reset pressed when asked, the window closed
// after a minute of nothing moving), each against a device and faults drawn from a seed
// (q218-sim --random SEED serves the same device), each run then checked.

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "link/SerialLink.h"
#include "sim/DeviceSetup.h"
#include "sim/FakeClock.h"

namespace q218::soak {

struct Scenario {
    std::uint64_t seed = 0;
    sim::DeviceSetup device;
    std::string typed;  // when a serial number is asked for
    std::chrono::milliseconds resetAfter{};
};
// `withSilence` false leaves out the device that stops answering (a minute of the rig's clock).
Scenario Draw(std::uint64_t seed, bool withSilence = true);

enum class Ending { Complete, Error, Rejected, Closed, None };
inline constexpr std::array<const char*, 5> kEndingNames = {
    "Update complete!", "Update Error.", "Image rejected", "window closed", "no ending"};

struct Tally {  // runs per ending, and "seed N: ..." for every check a run failed
    std::array<long, kEndingNames.size()> endings{};
    std::vector<std::string> broken;
    std::string Counts() const;
};

struct Rig {  // where a run happens: the updater's port and clock, the device behind it
    SerialLink& link;
    const MonotonicClock& clock;
    sim::FakeClock& viewClock;  // the fake window advances it at every wait
    std::function<void(const std::function<void(sim::SimulatedQ218&)>&)> withDevice;
    std::function<void()> betweenWaits = [] {};
};

// Sets the rig's fresh device up as `scenario` says, runs one update, checks it, counts it.
void RunAndCheck(const Scenario& scenario, Rig& rig, Tally& tally);
// The same with the device in memory on COM3 (an empty cable on COM1), on a fake clock.
void RunInMemory(const Scenario& scenario, Tally& tally);

}  // namespace q218::soak
