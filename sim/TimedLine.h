#pragma once
// The serial line between the host and the simulated Q218, on a clock: bytes in both
// directions with the moment each one arrives, the pacing of a 9600-baud line, and the
// adapter that can be pulled out. It knows nothing of what the bytes mean; the device reads
// what has arrived and queues what it sends.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "link/MonotonicClock.h"

namespace q218::sim {

// Line timing of 9600 baud 8N1: ten bit times per byte, 960 bytes a second.
inline constexpr std::chrono::nanoseconds kByteTime{1'000'000'000 / 960};

class TimedLine {
public:
    struct TimedByte {
        std::chrono::nanoseconds at;
        std::uint8_t byte;
    };

    explicit TimedLine(const MonotonicClock& clock);

    // Paced: every byte takes kByteTime in each direction; otherwise bytes take no time.
    void Paced(bool paced) { m_paced = paced; }

    // The host writes `bytes` now: they arrive one after another, behind what is still on
    // its way.
    void FromHost(std::string_view bytes);
    // The oldest host byte that has arrived by now, taken off the line.
    std::optional<TimedByte> NextArrived();

    // The device sends `bytes`, starting at `at` or when its earlier bytes are out, whichever
    // is later. Returns when the last one becomes readable.
    std::chrono::nanoseconds FromDevice(std::string_view bytes, std::chrono::nanoseconds at);
    // Removes and returns every byte the device has sent that is readable by now.
    std::string TakeReadable();

    // The earliest moment something is due (a byte arrives or becomes readable), if any.
    std::optional<std::chrono::nanoseconds> NextEventTime() const;

    // The adapter is pulled out at `at`: the device's bytes not yet readable then never come,
    // and the host's bytes still on their way are returned, lost.
    std::string Unplug(std::chrono::nanoseconds at);
    // The adapter is back: an empty line from now on.
    void Replug();
    std::optional<std::chrono::nanoseconds> UnpluggedAt() const { return m_unpluggedAt; }
    // Whether the line had vanished by `at` (by now, without an argument).
    bool VanishedBy(std::chrono::nanoseconds at) const;
    bool IsUnplugged() const { return VanishedBy(m_clock.Now()); }

private:
    const MonotonicClock& m_clock;
    bool m_paced = false;
    std::deque<TimedByte> m_toDevice;
    std::deque<TimedByte> m_toHost;  // readable at `at`
    std::chrono::nanoseconds m_toDeviceFree{};
    std::chrono::nanoseconds m_toHostFree{};
    std::optional<std::chrono::nanoseconds> m_unpluggedAt;
};

}  // namespace q218::sim
