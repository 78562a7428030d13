// The soak (support/Soak.h) on seeds 1 to 500; bench/SoakBench.cpp runs fresh seeds by the 100,000.

#include <gtest/gtest.h>

#include "support/Soak.h"

using namespace q218::soak;

TEST(Soak, FiveHundredSeededRunsKeepEveryCheck) {
    Tally tally;
    for (std::uint64_t seed = 1; seed <= 500; ++seed) {
        RunInMemory(Draw(seed), tally);
    }
    std::printf("soak: %s\n", tally.Counts().c_str());
    EXPECT_TRUE(tally.broken.empty()) << testing::PrintToString(tally.broken);
    // The seeds reach every ending the faults can bring.
    for (Ending e : {Ending::Complete, Ending::Error, Ending::Closed}) {
        EXPECT_GT(tally.endings[static_cast<std::size_t>(e)], 10) << kEndingNames[int(e)];
    }
}
