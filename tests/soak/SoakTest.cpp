// The soak in the test command: a fixed list of seeds, each a whole update with a device and
// faults drawn from it, every run checked (see Soak.h). bench/SoakBench.cpp runs fresh seeds
// by the hundred thousand and through the real serial port.

#include <gtest/gtest.h>

#include <cstdint>

#include "soak/Soak.h"

namespace q218::soak {
namespace {

TEST(Soak, FiveHundredSeededRunsKeepEveryCheck) {
    Tally tally;
    for (std::uint64_t seed = 1; seed <= 500; ++seed) {
        const Scenario scenario = Draw(seed);
        InMemoryRig rig(scenario.firmware);
        tally.Add(scenario, RunAndCheck(scenario, rig));
    }
    std::printf("soak: %ld runs; %s\n", tally.Runs(), tally.Counts().c_str());
    for (const std::string& broken : tally.broken) {
        ADD_FAILURE() << broken;
    }
    // The seeds reach every ending the faults can bring.
    for (Ending e : {Ending::Complete, Ending::Error, Ending::Closed}) {
        EXPECT_GT(tally.endings[static_cast<std::size_t>(e)], 10) << EndingName(e);
    }
}

}  // namespace
}  // namespace q218::soak
