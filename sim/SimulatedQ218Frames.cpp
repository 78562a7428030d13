// The bootloader's side of the simulated Q218: a frame taken in byte by byte, checked,
// written into program memory and answered, with the faults that strike a frame.
#include "sim/SimulatedQ218.h"

#include <algorithm>

namespace q218::sim {

namespace {

using std::chrono::nanoseconds;

constexpr std::uint8_t kBel = 0x07;           // frame refused: send it again
constexpr std::uint8_t kEndOfTransfer = 'S';  // after ":", leaves the bootloader

// Frame layout: ":" N AH AL CS, then N data bytes.
constexpr std::size_t kFrameHeader = 5;
constexpr std::size_t kMaxFrameData = 48;  // the bootloader's buffer: 24 words
constexpr std::size_t kFrameDataUnit = 8;  // frames carry whole groups of four words

}  // namespace

void SimulatedQ218::ProcessFrameByte(std::uint8_t byte, nanoseconds at) {
    if (m_frame.size() == 1) {
        if (byte == kEndOfTransfer) {
            Log(Direction::ToDevice, EntryKind::End, ":S", at);
            m_frame.clear();
            m_applicationValid = true;
            StartFromMemory();
            return;
        }
        m_currentFrame = m_framesReceived++;
        if (m_faults.unplugAtFrame == m_currentFrame) {
            m_frame.push_back(static_cast<char>(byte));
            Log(Direction::ToDevice, EntryKind::Frame, m_frame, at, m_currentFrame);
            m_frame.clear();
            UnplugAt(at);
            return;
        }
    }
    // The corrupted byte is the first data byte (the checksum when there is no data).
    if (m_faults.corruptFrame == m_currentFrame &&
        m_frame.size() == std::min<std::size_t>(kFrameHeader, FrameLength() - 1)) {
        byte ^= 0x01;
    }
    m_frame.push_back(static_cast<char>(byte));
    if (m_frame.size() == FrameLength()) {
        FinishFrame(at);
    }
}

std::size_t SimulatedQ218::FrameLength() const {
    if (m_frame.size() < 2) {
        return kFrameHeader;
    }
    return kFrameHeader + static_cast<std::uint8_t>(m_frame[1]);
}

void SimulatedQ218::FinishFrame(nanoseconds at) {
    const int k = m_currentFrame;
    const std::string frame = std::move(m_frame);
    m_frame.clear();
    m_state = State::FrameStart;
    Log(Direction::ToDevice, EntryKind::Frame, frame, at, k);

    if (m_faults.silentFromFrame && k >= *m_faults.silentFromFrame) {
        m_state = State::Silent;
        return;
    }
    const std::string bel(1, static_cast<char>(kBel));
    for (const auto& [first, times] : m_faults.belAfterFrame) {
        if (k >= first && k < first + times) {
            Reply(bel, at, k);
            return;
        }
    }
    const std::size_t n = static_cast<std::uint8_t>(frame[1]);
    unsigned sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) {
        sum += static_cast<std::uint8_t>(frame[i]);
    }
    const bool lengthOk = n % kFrameDataUnit == 0 && n <= kMaxFrameData;
    if (!lengthOk || sum % 256 != 0) {
        Reply(bel, at, k);
        return;
    }
    const std::uint32_t address =
        (static_cast<std::uint32_t>(static_cast<std::uint8_t>(frame[2])) << 8) |
        static_cast<std::uint8_t>(frame[3]);
    const std::size_t words = n / 2;
    m_applicationValid = false;
    for (std::size_t i = 0; i < words; ++i) {
        const auto target = static_cast<std::uint32_t>(address + i);
        const auto high = static_cast<std::uint8_t>(frame[kFrameHeader + 2 * i]);
        const auto low = static_cast<std::uint8_t>(frame[kFrameHeader + 2 * i + 1]);
        if (target >= kBootloaderFirst) {
            ++m_refusedWords;  // the bootloader never overwrites itself
            continue;
        }
        m_memory[target] = static_cast<std::uint16_t>(((high << 8) | low) & kWordMask);
    }
    const auto reply = m_faults.replyAfterFrame.find(k);
    Reply(reply != m_faults.replyAfterFrame.end() ? reply->second : std::string("T"), at, k,
          m_wordWriteTime * static_cast<long>(words));
}

}  // namespace q218::sim
