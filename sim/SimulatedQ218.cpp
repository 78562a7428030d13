#include "sim/SimulatedQ218.h"

#include <algorithm>

namespace q218::sim {

namespace {

using std::chrono::nanoseconds;

// Control characters of the bootloader handshake.
constexpr std::uint8_t kEnq = 0x05;  // the bootloader is listening
constexpr std::uint8_t kAck = 0x06;  // the host answers ENQ
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kFrameStart = ':';

constexpr std::string_view kIdentifyCommand = "990";
constexpr std::string_view kResetCommand = "977";
// What the bootloader answers "990" with while no application is present.
constexpr std::string_view kBootloaderIdentification = "Q218";

// The application's command line never needs more; anything longer is garbage.
constexpr std::size_t kMaxCommandLine = 32;

// Word 3 of a previous firmware: GOTO 0x006, the application's start.
constexpr std::uint16_t kApplicationGoto = 0x2806;
constexpr std::uint16_t kGotoMask = 0x3800;
constexpr std::uint16_t kGotoOpcode = 0x2800;
constexpr std::uint16_t kRetlwMask = 0x3C00;
// The last word the identification table may use: just below the bootloader.
constexpr std::uint16_t kIdTableLast = kBootloaderFirst - 1;
// The code of a previous firmware: some non-erased words, the same on every device.
constexpr std::uint16_t kApplicationEnd = 0x0400;

std::uint16_t ApplicationFiller(std::uint16_t address) {
    return static_cast<std::uint16_t>(0x3000 | (address & 0x00FF));  // MOVLW k
}

std::uint16_t BootloaderFiller(std::uint16_t address) {
    return static_cast<std::uint16_t>(0x1000 | (address & 0x0FFF));  // BCF f,b
}

}  // namespace

SimulatedQ218::SimulatedQ218(const MonotonicClock& clock, const PreviousFirmware& firmware)
    : m_clock(clock), m_line(clock) {
    m_memory.fill(kErasedWord);
    std::copy(kBootloaderJump.begin(), kBootloaderJump.end(), m_memory.begin());
    m_memory[3] = kApplicationGoto;
    for (std::uint16_t a = 4; a < kApplicationEnd; ++a) {
        m_memory[a] = ApplicationFiller(a);
    }
    for (std::uint32_t a = kBootloaderFirst; a <= kBootloaderLast; ++a) {
        m_memory[a] = BootloaderFiller(static_cast<std::uint16_t>(a));
    }
    // The table the application returns character by character; an empty serial leaves
    // the six digit words out, so the text begins with the space.
    std::string text = firmware.serial + " " + firmware.model + " " + firmware.revision + " " +
                       firmware.date + " " + "\r";
    m_memory[kIdTableAddress] = kIdTableJump;
    std::uint16_t address = kIdTableAddress + 1;
    for (char c : text) {
        if (address > kIdTableLast) {
            break;
        }
        m_memory[address++] = static_cast<std::uint16_t>(kRetlw | static_cast<std::uint8_t>(c));
    }
}

// --- State changes by hand -----------------------------------------------------------------

void SimulatedQ218::BreakApplication() {
    Update();
    for (std::uint16_t a = 3; a < kBootloaderFirst; ++a) {
        m_memory[a] = kErasedWord;
    }
    m_applicationValid = false;
    StartFromMemory();
}

void SimulatedQ218::ResetByHand() {
    Update();
    const nanoseconds now = m_clock.Now();
    if (IsUnplugged()) {
        return;
    }
    Log(Direction::ToDevice, EntryKind::ResetByHand, "", now);
    m_commandLine.clear();
    m_frame.clear();
    if (IsBricked()) {
        m_state = State::Dead;
        return;
    }
    EnterBootloader(now);
}

void SimulatedQ218::Unplug() {
    Update();
    if (!m_line.UnpluggedAt()) {
        UnplugAt(m_clock.Now());
    }
}

void SimulatedQ218::Replug() {
    m_line.Replug();
    StartFromMemory();
}

// --- Transport side ------------------------------------------------------------------------

void SimulatedQ218::Receive(std::string_view bytes) {
    Update();
    const nanoseconds now = m_clock.Now();
    if (IsUnplugged()) {
        Log(Direction::ToDevice, EntryKind::Lost, bytes, now);
        return;
    }
    m_line.FromHost(bytes);
    Update();
}

std::string SimulatedQ218::TakeReadable() {
    Update();
    return m_line.TakeReadable();
}

void SimulatedQ218::Update() {
    while (const auto next = m_line.NextArrived()) {
        Process(next->byte, next->at);
    }
}

// --- Inspection ----------------------------------------------------------------------------

std::uint16_t SimulatedQ218::Word(std::uint32_t address) const {
    if (address < kProgramWords) {
        return m_memory[address];
    }
    if (address == kConfigAddress) {
        return m_config;
    }
    return kErasedWord;
}

bool SimulatedQ218::IsBricked() const {
    return !std::equal(kBootloaderJump.begin(), kBootloaderJump.end(), m_memory.begin());
}

std::string SimulatedQ218::IdentificationText() const {
    if (m_line.UnpluggedAt()) {
        return "";
    }
    const std::optional<std::string>& fixed = m_faults.identification;
    switch (m_state) {
        case State::Application:
            return fixed ? *fixed : TableText();
        case State::BootloaderIdle:
            return fixed ? *fixed : std::string(kBootloaderIdentification);
        default:
            return "";
    }
}

std::string SimulatedQ218::TableSerial() const {
    const std::string text = TableText();
    return text.substr(0, text.find(' '));
}

sim::Transcript SimulatedQ218::Frames() const {
    sim::Transcript frames;
    std::copy_if(m_transcript.begin(), m_transcript.end(), std::back_inserter(frames),
                 [](const TranscriptEntry& e) { return e.kind == EntryKind::Frame; });
    return frames;
}

bool SimulatedQ218::InBootloader() const {
    return m_state == State::BootloaderIdle || m_state == State::WaitingForAck ||
           m_state == State::FrameStart || m_state == State::FrameBody;
}

// --- Inside the device ---------------------------------------------------------------------

void SimulatedQ218::Process(std::uint8_t byte, nanoseconds at) {
    if (m_line.VanishedBy(at)) {
        Log(Direction::ToDevice, EntryKind::Lost, std::string(1, static_cast<char>(byte)), at);
        return;
    }
    switch (m_state) {
        case State::Application:
        case State::BootloaderIdle:
            ProcessCommandByte(byte, at);
            return;
        case State::WaitingForAck:
            if (byte == kAck) {
                Log(Direction::ToDevice, EntryKind::Ack, std::string(1, static_cast<char>(byte)),
                    at);
                Send(m_handshake, EntryKind::Handshake, at);
                Send("T", EntryKind::Ready, at);
                m_state = State::FrameStart;
            } else {
                LogUnexpected(byte, at);
            }
            return;
        case State::FrameStart:
            if (byte == kFrameStart) {
                m_frame.assign(1, static_cast<char>(byte));
                m_state = State::FrameBody;
            } else {
                LogUnexpected(byte, at);
            }
            return;
        case State::FrameBody:
            ProcessFrameByte(byte, at);
            return;
        case State::Silent:
        case State::Dead:
            LogUnexpected(byte, at);
            return;
    }
}

void SimulatedQ218::ProcessCommandByte(std::uint8_t byte, nanoseconds at) {
    if (byte == kLf && m_commandLine.empty()) {
        // A terminal's CR LF: the LF follows a command already taken.
        LogUnexpected(byte, at);
        return;
    }
    if (byte != kCr) {
        m_commandLine.push_back(static_cast<char>(byte));
        if (m_commandLine.size() > kMaxCommandLine) {
            Log(Direction::ToDevice, EntryKind::Unexpected, m_commandLine, at);
            m_commandLine.clear();
        }
        return;
    }
    const std::string line = m_commandLine + "\r";
    const bool identify = m_commandLine == kIdentifyCommand;
    const bool reset = m_commandLine == kResetCommand;
    m_commandLine.clear();
    if (identify) {
        Log(Direction::ToDevice, EntryKind::IdentifyQuery, line, at);
        const std::string reply = IdentificationText();
        if (!reply.empty()) {
            Send(reply, EntryKind::IdentifyReply, at);
        }
    } else if (reset && m_state == State::Application) {
        Log(Direction::ToDevice, EntryKind::ResetCommand, line, at);
        EnterBootloader(at);
    } else {
        // Without an application nobody listens for "977"; other lines mean nothing.
        Log(Direction::ToDevice, EntryKind::Unexpected, line, at);
    }
}

void SimulatedQ218::EnterBootloader(nanoseconds at) {
    m_commandLine.clear();
    m_frame.clear();
    if (m_faults.silentBeforeEnq) {
        m_state = State::Silent;
        return;
    }
    if (m_faults.noiseSpacing > nanoseconds::zero()) {
        for (const char noise : m_faults.noiseBeforeEnq) {
            at += m_faults.noiseSpacing;
            Send(std::string(1, noise), EntryKind::Noise, at);
        }
        at += m_faults.noiseSpacing;
    } else {
        Send(m_faults.noiseBeforeEnq, EntryKind::Noise, at);
    }
    Send(std::string(1, static_cast<char>(kEnq)), EntryKind::Enq, at);
    Send(m_faults.noiseAfterEnq, EntryKind::Noise, at);
    m_state = State::WaitingForAck;
}

void SimulatedQ218::StartFromMemory() {
    m_commandLine.clear();
    m_frame.clear();
    if (IsBricked()) {
        m_state = State::Dead;
    } else if (ApplicationPresent()) {
        m_state = State::Application;
    } else {
        m_state = State::BootloaderIdle;
    }
}

bool SimulatedQ218::ApplicationPresent() const {
    return m_applicationValid && m_memory[kIdTableAddress] == kIdTableJump &&
           (m_memory[3] & kGotoMask) == kGotoOpcode;
}

std::string SimulatedQ218::TableText() const {
    // The application calls the table once per character until it returns the CR.
    std::string text;
    for (std::uint16_t a = kIdTableAddress + 1; a <= kIdTableLast; ++a) {
        const std::uint16_t word = m_memory[a];
        if ((word & kRetlwMask) != kRetlw) {
            break;
        }
        text.push_back(static_cast<char>(word & 0x00FF));
        if ((word & 0x00FF) == kCr) {
            break;
        }
    }
    return text;
}

void SimulatedQ218::Reply(std::string_view bytes, nanoseconds at, int k, nanoseconds extra) {
    const nanoseconds readable = Send(bytes, EntryKind::FrameReply, at, k, extra);
    if (m_faults.unplugAfterReplyToFrame == k) {
        // The reply stays readable; nothing after it arrives or leaves.
        UnplugAt(readable);
    }
}

nanoseconds SimulatedQ218::Send(std::string_view bytes, EntryKind kind, nanoseconds at, int frame,
                                nanoseconds extra) {
    if (bytes.empty() || m_line.VanishedBy(at)) {
        return at;
    }
    const nanoseconds last = m_line.FromDevice(bytes, at + extra + m_replyDelay);
    Log(Direction::FromDevice, kind, bytes, last, frame);
    return last;
}

void SimulatedQ218::Log(Direction direction, EntryKind kind, std::string_view bytes, nanoseconds at,
                        int frame) {
    // Runs of unexpected or lost bytes stay one entry.
    if ((kind == EntryKind::Unexpected || kind == EntryKind::Lost) && !m_transcript.empty()) {
        TranscriptEntry& last = m_transcript.back();
        if (last.kind == kind && last.direction == direction) {
            last.bytes += bytes;
            last.at = at;
            return;
        }
    }
    m_transcript.push_back({direction, kind, std::string(bytes), frame, at});
}

void SimulatedQ218::LogUnexpected(std::uint8_t byte, nanoseconds at) {
    Log(Direction::ToDevice, EntryKind::Unexpected, std::string(1, static_cast<char>(byte)), at);
}

void SimulatedQ218::UnplugAt(nanoseconds at) {
    const std::string lost = m_line.Unplug(at);
    if (!lost.empty()) {
        Log(Direction::ToDevice, EntryKind::Lost, lost, at);
    }
    m_commandLine.clear();
    m_frame.clear();
}

}  // namespace q218::sim
