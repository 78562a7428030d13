#pragma once
// The simulated device's program memory as the tests, the soak and the benches read it.

#include <cstdint>

#include "sim/PtyServer.h"
#include "support/ExpectedMemory.h"

namespace q218::test {

inline Memory MemoryOf(const sim::SimulatedQ218& device) {
    Memory m;
    for (std::uint32_t a = 0; a < kProgramWords; ++a) {
        m.words[a] = device.Word(a);
    }
    m.config = device.Word(0x2007);
    return m;
}

inline Memory MemoryOf(sim::PtyServer& server) {
    return server.WithDevice([](sim::SimulatedQ218& d) { return MemoryOf(d); });
}

}  // namespace q218::test
