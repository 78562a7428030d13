#include "ScriptedHost.h"

#include "support/ExpectedMemory.h"

namespace q218::test {

namespace {

using namespace std::chrono_literals;

constexpr char kEnq = 0x05;
constexpr char kAck = 0x06;
constexpr char kBel = 0x07;
// How far the host moves the fake clock between two polls.
constexpr std::chrono::nanoseconds kPollStep = 100us;

}  // namespace

std::optional<std::string> FrameForRecord(std::string_view record) {
    const std::vector<WrittenBlock> blocks = BlocksOfUpdate({std::string(record)});
    if (blocks.empty()) {
        return std::nullopt;
    }
    const std::vector<std::uint16_t>& words = blocks.front().words;
    const unsigned wordAddress = blocks.front().first;
    std::string frame(1, ':');
    frame.push_back(static_cast<char>(words.size() * 2));
    frame.push_back(static_cast<char>(wordAddress >> 8));
    frame.push_back(static_cast<char>(wordAddress & 0xFF));
    std::string data;
    for (std::uint16_t w : words) {
        data.push_back(static_cast<char>(w >> 8));
        data.push_back(static_cast<char>(w & 0xFF));
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) {
        sum += static_cast<std::uint8_t>(frame[i]);
    }
    for (char c : data) {
        sum += static_cast<std::uint8_t>(c);
    }
    frame.push_back(static_cast<char>((256 - sum % 256) % 256));
    return frame + data;
}

bool ScriptedHost::Open(int inputLen) {
    m_link.SetPortOpen(false);
    m_link.SetCommPort(m_port);
    m_link.SetInputLen(inputLen);
    m_link.SetSettings(kLineSettings);
    return m_link.SetPortOpen(true).Opened();
}

std::optional<char> ScriptedHost::ReadOne(std::chrono::nanoseconds patience) {
    const auto deadline = m_clock.Now() + patience;
    while (m_clock.Now() <= deadline) {
        const std::string c = m_link.Input();
        if (!c.empty()) {
            return c[0];
        }
        if (m_link.LineLost()) {
            return std::nullopt;
        }
        m_clock.Advance(kPollStep);
    }
    return std::nullopt;
}

HostResult ScriptedHost::Download(const std::vector<std::string>& frames,
                                  std::chrono::nanoseconds patience) {
    HostResult result;
    if (!Open(1)) {
        result.failure = "port did not open";
        return result;
    }
    m_link.Output("977\r");
    if (m_onWaitForEnq && m_link.InBufferCount() == 0) {
        m_onWaitForEnq();
    }
    for (;;) {
        const std::optional<char> c = ReadOne(patience);
        if (!c) {
            result.failure = "no ENQ";
            return result;
        }
        if (*c == kEnq) {
            break;
        }
    }
    m_link.Output(std::string(1, kAck));
    for (int i = 0; i < 2; ++i) {
        if (!ReadOne(patience)) {
            result.failure = "no handshake characters";
            return result;
        }
    }
    std::size_t next = 0;
    while (next <= frames.size()) {
        const std::optional<char> reply = ReadOne(patience);
        if (!reply) {
            result.failure = m_link.LineLost() ? "line lost" : "no reply";
            return result;
        }
        if (*reply == kBel && next > 0) {
            ++result.bels;
            --next;
        } else if (*reply != 'T') {
            result.failure = std::string("reply ") + *reply;
            return result;
        }
        if (next == frames.size()) {
            break;
        }
        m_link.Output(frames[next]);
        result.frames.push_back(frames[next]);
        ++result.framesSent;
        ++next;
    }
    m_link.Output(":");
    m_link.Output("S");
    result.finished = true;
    m_link.SetPortOpen(false);
    return result;
}

std::string ScriptedHost::Identify(std::chrono::nanoseconds wait) {
    if (!Open(0)) {
        return "";
    }
    m_link.Output("990\r");
    m_clock.Advance(wait);
    std::string reply = m_link.Input();
    m_link.SetPortOpen(false);
    return reply;
}

}  // namespace q218::test
