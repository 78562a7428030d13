#pragma once
// What the simulated Q218 saw and said on its serial line, in order, so that tests can
// compare a whole run frame by frame instead of poking at the device's internals.

#include <chrono>
#include <string>
#include <vector>

namespace q218::sim {

enum class Direction {
    ToDevice,    // written by the host
    FromDevice,  // sent by the device
};

enum class EntryKind {
    IdentifyQuery,  // "990" CR
    IdentifyReply,  // the identification text
    ResetCommand,   // "977" CR: the application jumps into the bootloader
    ResetByHand,    // the reset button was pressed (no bytes)
    Noise,          // characters the device sends before ENQ
    Enq,            // the bootloader announces itself
    Ack,            // the host answers ENQ
    Handshake,      // the two characters the bootloader sends after ACK
    Ready,          // "T" after the handshake: send the first frame
    Frame,          // one frame as the device received it (`frame` holds its index)
    FrameReply,     // "T", BEL or another character for frame `frame`
    End,            // ":" "S": leave the bootloader
    Unexpected,     // bytes the device did not expect in its state; it ignores them
    Lost,           // bytes written after the line vanished; they never reached the device
};

struct TranscriptEntry {
    Direction direction = Direction::ToDevice;
    EntryKind kind = EntryKind::Unexpected;
    std::string bytes;
    int frame = -1;  // frames received so far count from 0; -1 for entries of no frame
    std::chrono::nanoseconds at{};  // when the last byte arrived or became readable
};

using Transcript = std::vector<TranscriptEntry>;

const char* KindName(EntryKind kind);

// One line per entry, bytes in hexadecimal: for failure messages of tests.
std::string Describe(const TranscriptEntry& entry);
std::string Describe(const Transcript& transcript);

}  // namespace q218::sim
