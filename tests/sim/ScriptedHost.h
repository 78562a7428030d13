#pragma once
// An updater side written in the test from the bootloader's wire table, not from the
// updater's download code: it turns Intel HEX records into frames with its own small
// encoder and drives the whole exchange over an in-memory line, answering BEL by sending
// the same frame again. Tests of the simulated device compare against what it sent.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"

namespace q218::test {

// The frame for one Intel HEX record, or nullopt when the record is not sent (end of file,
// or at word address 0x2000 and above). A record at word address 0 carries one word: it
// moves to word 3, and words 0 to 2 become the jump to the bootloader at 0x1F40.
std::optional<std::string> FrameForRecord(std::string_view record);

struct HostResult {
    bool finished = false;  // ":" "S" sent after the last frame's "T"
    std::string failure;    // why it stopped otherwise
    int framesSent = 0;     // frames written, resends included
    int bels = 0;
    std::vector<std::string> frames;  // every frame written, in order
};

class ScriptedHost {
public:
    ScriptedHost(sim::FakeClock& clock, sim::InMemoryLink& link, std::int16_t port)
        : m_clock(clock), m_link(link), m_port(port) {}

    // "977" CR, wait for ENQ, ACK, drop two characters, then for each frame wait for "T"
    // (or BEL: send the last frame again) and at the end ":" "S". A wait longer than
    // `patience` without a character ends the run as a failure.
    HostResult Download(const std::vector<std::string>& frames,
                        std::chrono::nanoseconds patience = std::chrono::seconds(5));

    // Runs once when the host first finds no ENQ waiting (a technician's hand on the reset
    // button).
    void OnWaitForEnq(std::function<void()> action) { m_onWaitForEnq = std::move(action); }

    // "990" CR, then everything that arrives within `wait`.
    std::string Identify(std::chrono::nanoseconds wait = std::chrono::seconds(2));

private:
    bool Open(int inputLen);
    std::optional<char> ReadOne(std::chrono::nanoseconds patience);

    sim::FakeClock& m_clock;
    sim::InMemoryLink& m_link;
    std::int16_t m_port;
    std::function<void()> m_onWaitForEnq;
};

}  // namespace q218::test
