#pragma once
// The simulated device's program memory as the expected-memory checks read it.

#include "sim/PtyServer.h"
#include "support/ExpectedMemory.h"

namespace q218::test {

inline Memory MemoryOf(sim::PtyServer& server) {
    return server.WithDevice([](sim::SimulatedQ218& d) {
        Memory m;
        for (std::uint32_t a = 0; a < kProgramWords; ++a) {
            m.words[a] = d.Word(a);
        }
        m.config = d.Word(0x2007);
        return m;
    });
}

}  // namespace q218::test
