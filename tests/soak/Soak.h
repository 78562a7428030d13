#pragma once
// The soak: whole updates on the headless window as a technician runs them ("OK", a serial
// number typed when asked, "&Update", the reset button when asked, the window closed after a
// minute of nothing moving), each against a device and faults drawn from a seed, and after
// each run the checks that must hold whatever the faults. One generator (Draw), one driver
// and checker (RunAndCheck); the rig says where the run happens (in memory, or a real port on a pty).

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/MonotonicClock.h"
#include "link/SerialLink.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"

namespace q218::soak {

// One run's device and technician.
struct Scenario {
    std::uint64_t seed = 0;
    sim::PreviousFirmware firmware;
    bool bootloaderOnly = false;  // a failed update erased the application
    sim::Faults faults;
    // Typed one after another while the updater asks for a serial number; the last is valid.
    std::vector<std::string> entries;
    bool confirmWithEnter = false;  // else with "OK"
    // How long the technician takes to press reset once asked to.
    std::chrono::milliseconds resetAfter{};
};

// `withSilence` false leaves out the device that stops answering, which costs a minute of the
// rig's clock.
Scenario Draw(std::uint64_t seed, bool withSilence = true);
std::string Describe(const Scenario& scenario);

enum class Ending { Complete, Error, Rejected, Closed, Stuck };
inline constexpr std::size_t kEndings = 5;
const char* EndingName(Ending ending);

// Where a run happens: the port and the clock the updater uses, and the device behind it.
class Rig {
public:
    virtual ~Rig() = default;
    virtual SerialLink& Link() = 0;
    virtual const MonotonicClock& Clock() const = 0;
    // Runs `action` on the device while nothing else touches it.
    virtual void WithDevice(const std::function<void(sim::SimulatedQ218&)>& action) = 0;
    // The fake window advances this clock at every poll.
    virtual sim::FakeClock& ViewClock() = 0;
    // Between two polls of the window: what a real line and a real clock need.
    virtual void BetweenPolls() {}
};

// The device on COM3 and an empty cable on COM1, in memory, on a fake clock.
class InMemoryRig final : public Rig {
public:
    explicit InMemoryRig(const sim::PreviousFirmware& firmware);
    SerialLink& Link() override { return m_link; }
    const MonotonicClock& Clock() const override { return m_clock; }
    void WithDevice(const std::function<void(sim::SimulatedQ218&)>& action) override {
        action(m_device);
    }
    sim::FakeClock& ViewClock() override { return m_clock; }

private:
    sim::FakeClock m_clock;
    sim::SimulatedQ218 m_device;
    sim::InMemoryLink m_link;
};

struct Outcome {
    Ending ending = Ending::Stuck;
    std::vector<std::string> broken;  // the checks the run failed, in words
};

// Sets the rig's fresh device up as `scenario` says, runs one update and checks it.
Outcome RunAndCheck(const Scenario& scenario, Rig& rig);

// Runs counted per ending; the seed and the failed checks of every run that broke one.
struct Tally {
    std::array<long, kEndings> endings{};
    std::vector<std::string> broken;
    void Add(const Scenario& scenario, const Outcome& outcome);
    long Runs() const;
    std::string Counts() const;
};

}  // namespace q218::soak
