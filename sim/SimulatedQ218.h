#pragma once
// The simulated Q218: program memory of 14-bit words, the application's identification and
// reset commands, and the serial bootloader at the top of memory, with faults injected by
// explicit calls. The device is a state machine on a clock: a transport hands it the host's
// bytes (Receive) and takes the bytes it sends once they are readable (TakeReadable); the
// device acts only when a transport or a test calls in, at the time of the clock.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "link/MonotonicClock.h"
#include "sim/TimedLine.h"
#include "sim/Transcript.h"

namespace q218::sim {

// Program memory: words 0x0000 to 0x1FFF, then the configuration word at 0x2007.
inline constexpr std::uint16_t kProgramWords = 0x2000;
inline constexpr std::uint16_t kConfigAddress = 0x2007;
inline constexpr std::uint16_t kErasedWord = 0x3FFF;  // a PIC flash word after erase
inline constexpr std::uint16_t kWordMask = 0x3FFF;    // program words are 14 bits wide
// The bootloader's own words; it refuses frames that would overwrite them.
inline constexpr std::uint16_t kBootloaderFirst = 0x1F40;
inline constexpr std::uint16_t kBootloaderLast = 0x1FFF;
// Words 0 to 2 jump to the bootloader: BSF PCLATH,3; BSF PCLATH,4; GOTO 0x740 (= 0x1F40).
inline constexpr std::array<std::uint16_t, 3> kBootloaderJump = {0x158A, 0x160A, 0x2F40};
// The identification text table: ADDWF PCL,F at 0x1F00, then one RETLW per character.
inline constexpr std::uint16_t kIdTableAddress = 0x1F00;
inline constexpr std::uint16_t kIdTableJump = 0x0782;
inline constexpr std::uint16_t kRetlw = 0x3400;  // RETLW k: 0x34 high byte, k low byte

// The firmware a device holds when it comes to the technician.
struct PreviousFirmware {
    std::string serial = "123456";  // "" (no serial digits at all) or six digits; "999999"
                                    // is the factory placeholder
    std::string revision = "R04.5";
    std::string date = "2021-11-02";
    std::string model = "Q218";
};

// What goes wrong on the device's side of the line, all in one value. Frame index k counts
// every frame received, retries included, from 0.
struct Faults {
    std::string noiseBeforeEnq;
    // noiseBeforeEnq's characters one this far apart, the first one this long after "977",
    // ENQ one after the last; zero: all of them at once.
    std::chrono::nanoseconds noiseSpacing{};
    // Characters sent right behind ENQ, before the host's ACK: they wait in the host's
    // buffer ahead of the two handshake characters.
    std::string noiseAfterEnq;
    // "977" is taken but ENQ never comes.
    bool silentBeforeEnq = false;
    // First frame -> times: frames k to k + times - 1 are answered BEL and not written.
    std::map<int, int> belAfterFrame;
    // One data byte of frame k is corrupted on the line: the checksum fails, BEL.
    std::optional<int> corruptFrame;
    // Frame k is written and answered with this text instead of "T".
    std::map<int, std::string> replyAfterFrame;
    // Frames from k on get no answer and are not written.
    std::optional<int> silentFromFrame;
    // The line vanishes when frame k begins to arrive.
    std::optional<int> unplugAtFrame;
    // The line vanishes right after the reply to frame k has reached the host, before the
    // host's next bytes leave (the race of an adapter pulled just after a "T").
    std::optional<int> unplugAfterReplyToFrame;
    // Every identification query is answered with exactly this text instead of the table.
    std::optional<std::string> identification;
};

class SimulatedQ218 {
public:
    SimulatedQ218(const MonotonicClock& clock, const PreviousFirmware& firmware);
    SimulatedQ218(const SimulatedQ218&) = delete;
    SimulatedQ218& operator=(const SimulatedQ218&) = delete;

    // --- State changes by hand -------------------------------------------------------------
    // The state a failed update leaves: the application is erased, only the bootloader is
    // left. It answers the identification with "Q218" alone, ignores "977" and enters the
    // bootloader only when reset by hand.
    void BreakApplication();
    // The reset button: the reset vector leads into the bootloader, which sends ENQ (after
    // the noise, if any). A bricked device does nothing.
    void ResetByHand();
    // The line vanishes now (the adapter is pulled out): nothing more arrives or leaves.
    void Unplug();
    // The line is back and the device powers up again from its program memory.
    void Replug();

    // --- Behaviour and timing --------------------------------------------------------------
    // Paced like a 9600-baud 8N1 line: every byte takes kByteTime in each direction.
    void Paced(bool paced) { m_line.Paced(paced); }
    // Flash write time per program word, spent before a frame's "T".
    void WordWriteTime(std::chrono::nanoseconds perWord) { m_wordWriteTime = perWord; }
    // Every reply starts this much later (a reply that misses the settle delay).
    void ReplyDelay(std::chrono::nanoseconds delay) { m_replyDelay = delay; }
    // The two characters the bootloader sends after ACK, before its "T".
    void HandshakeCharacters(std::string_view two) { m_handshake = std::string(two); }

    // --- Faults ----------------------------------------------------------------------------
    // Replaces every fault at once.
    void SetFaults(Faults faults) { m_faults = std::move(faults); }
    // One fault at a time, on top of the others (see Faults for their meaning).
    void NoiseBeforeEnq(std::string_view noise, std::chrono::nanoseconds spacing = {}) {
        m_faults.noiseBeforeEnq = std::string(noise);
        m_faults.noiseSpacing = spacing;
    }
    void NoiseAfterEnq(std::string_view noise) { m_faults.noiseAfterEnq = std::string(noise); }
    void SilentBeforeEnq() { m_faults.silentBeforeEnq = true; }
    void BelAfterFrame(int k, int times = 1) { m_faults.belAfterFrame[k] = std::max(times, 1); }
    void CorruptByteInFrame(int k) { m_faults.corruptFrame = k; }
    void ReplyAfterFrame(int k, char reply) { m_faults.replyAfterFrame[k] = std::string(1, reply); }
    void ReplyAfterFrame(int k, std::string_view reply) {
        m_faults.replyAfterFrame[k] = std::string(reply);
    }
    void SilentFromFrame(int k) { m_faults.silentFromFrame = k; }
    void UnplugAtFrame(int k) { m_faults.unplugAtFrame = k; }
    void UnplugAfterReplyToFrame(int k) { m_faults.unplugAfterReplyToFrame = k; }
    void IdentificationReply(std::string_view text) { m_faults.identification = std::string(text); }

    // --- Transport side --------------------------------------------------------------------
    // Bytes the host writes now. They reach the device at once, or one kByteTime after
    // another when paced. Bytes written after the line vanished are logged as Lost.
    void Receive(std::string_view bytes);
    // Removes and returns every byte the device has sent that is readable by now.
    std::string TakeReadable();
    // Lets the device act on everything that has arrived by now.
    void Update();
    // The earliest moment something is due (a byte arrives or becomes readable), if any.
    std::optional<std::chrono::nanoseconds> NextEventTime() const { return m_line.NextEventTime(); }
    // When the line vanished, if it has.
    std::optional<std::chrono::nanoseconds> UnpluggedAt() const { return m_line.UnpluggedAt(); }
    bool IsUnplugged() const { return m_line.IsUnplugged(); }

    // --- Inspection ------------------------------------------------------------------------
    // Program word at `address` (0x3FFF erased); 0x2007 is the configuration word.
    std::uint16_t Word(std::uint32_t address) const;
    // Words 0 to 2 no longer jump to the bootloader: nothing can start it any more.
    bool IsBricked() const;
    // What the device would answer "990" with right now ("" when it cannot answer).
    std::string IdentificationText() const;
    // The serial number in the identification table of program memory, up to its space ("" when
    // the table is erased): what the device keeps across a reset, whatever state it is in.
    std::string TableSerial() const;
    const sim::Transcript& Transcript() const { return m_transcript; }
    // Only the Frame entries, in order.
    sim::Transcript Frames() const;
    int FramesReceived() const { return m_framesReceived; }
    // Words that frames aimed at the bootloader's region (or past program memory).
    int RefusedWords() const { return m_refusedWords; }
    bool InBootloader() const;

private:
    enum class State {
        Application,     // the application runs its command loop
        BootloaderIdle,  // no application: the bootloader waits for a reset by hand
        WaitingForAck,   // ENQ sent
        FrameStart,      // waiting for ":"
        FrameBody,       // ":" and some bytes of a frame received
        Silent,          // waiting for ACK that will not be answered, or hung
        Dead,            // bricked: nothing runs
    };

    void Process(std::uint8_t byte, std::chrono::nanoseconds at);
    void ProcessCommandByte(std::uint8_t byte, std::chrono::nanoseconds at);
    void ProcessFrameByte(std::uint8_t byte, std::chrono::nanoseconds at);
    void FinishFrame(std::chrono::nanoseconds at);
    // Bytes of the frame being received, ":" included, as its length byte declares.
    std::size_t FrameLength() const;
    void EnterBootloader(std::chrono::nanoseconds at);
    void StartFromMemory();
    bool ApplicationPresent() const;
    std::string TableText() const;
    // The answer to frame k: the line vanishes behind it when the fault says so.
    void Reply(std::string_view bytes, std::chrono::nanoseconds at, int k,
               std::chrono::nanoseconds extra = {});
    // Returns when the last byte becomes readable (`at` when nothing is sent).
    std::chrono::nanoseconds Send(std::string_view bytes, EntryKind kind,
                                  std::chrono::nanoseconds at, int frame = -1,
                                  std::chrono::nanoseconds extra = {});
    void Log(Direction direction, EntryKind kind, std::string_view bytes,
             std::chrono::nanoseconds at, int frame = -1);
    void LogUnexpected(std::uint8_t byte, std::chrono::nanoseconds at);
    void UnplugAt(std::chrono::nanoseconds at);

    const MonotonicClock& m_clock;
    std::array<std::uint16_t, kProgramWords> m_memory{};
    std::uint16_t m_config = 0x3F32;
    // Cleared when the first frame of an update is written, set again by ":" "S": a device
    // that loses power in between starts in its bootloader, not in a half-written program.
    bool m_applicationValid = true;
    State m_state = State::Application;

    TimedLine m_line;
    std::chrono::nanoseconds m_wordWriteTime{};
    std::chrono::nanoseconds m_replyDelay{};
    std::string m_handshake = "B2";
    Faults m_faults;

    std::string m_commandLine;  // application: characters since the last CR
    std::string m_frame;        // bytes of the frame being received, ":" included
    int m_currentFrame = -1;
    int m_framesReceived = 0;
    int m_refusedWords = 0;
    sim::Transcript m_transcript;
};

}  // namespace q218::sim
