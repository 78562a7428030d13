#include "sim/TimedLine.h"

#include <algorithm>

namespace q218::sim {

using std::chrono::nanoseconds;

TimedLine::TimedLine(const MonotonicClock& clock)
    : m_clock(clock), m_toDeviceFree(clock.Now()), m_toHostFree(clock.Now()) {}

void TimedLine::FromHost(std::string_view bytes) {
    const nanoseconds now = m_clock.Now();
    for (char c : bytes) {
        nanoseconds at = std::max(now, m_toDeviceFree);
        if (m_paced) {
            at += kByteTime;
        }
        m_toDeviceFree = at;
        m_toDevice.push_back({at, static_cast<std::uint8_t>(c)});
    }
}

std::optional<TimedLine::TimedByte> TimedLine::NextArrived() {
    if (m_toDevice.empty() || m_toDevice.front().at > m_clock.Now()) {
        return std::nullopt;
    }
    const TimedByte next = m_toDevice.front();
    m_toDevice.pop_front();
    return next;
}

nanoseconds TimedLine::FromDevice(std::string_view bytes, nanoseconds at) {
    nanoseconds t = std::max(at, m_toHostFree);
    for (char c : bytes) {
        if (m_paced) {
            t += kByteTime;
        }
        m_toHost.push_back({t, static_cast<std::uint8_t>(c)});
    }
    m_toHostFree = t;
    return t;
}

std::string TimedLine::TakeReadable() {
    const nanoseconds now = m_clock.Now();
    std::string bytes;
    while (!m_toHost.empty() && m_toHost.front().at <= now) {
        bytes.push_back(static_cast<char>(m_toHost.front().byte));
        m_toHost.pop_front();
    }
    return bytes;
}

std::optional<nanoseconds> TimedLine::NextEventTime() const {
    std::optional<nanoseconds> next;
    if (!m_toDevice.empty()) {
        next = m_toDevice.front().at;
    }
    if (!m_toHost.empty() && (!next || m_toHost.front().at < *next)) {
        next = m_toHost.front().at;
    }
    return next;
}

std::string TimedLine::Unplug(nanoseconds at) {
    m_unpluggedAt = at;
    while (!m_toHost.empty() && m_toHost.back().at > at) {
        m_toHost.pop_back();
    }
    std::string lost;
    for (const TimedByte& b : m_toDevice) {
        lost.push_back(static_cast<char>(b.byte));
    }
    m_toDevice.clear();
    return lost;
}

void TimedLine::Replug() {
    const nanoseconds now = m_clock.Now();
    m_unpluggedAt.reset();
    m_toDevice.clear();
    m_toHost.clear();
    m_toDeviceFree = now;
    m_toHostFree = now;
}

bool TimedLine::VanishedBy(nanoseconds at) const {
    return m_unpluggedAt && *m_unpluggedAt <= at;
}

}  // namespace q218::sim
