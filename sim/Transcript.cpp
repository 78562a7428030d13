#include "sim/Transcript.h"

#include <cstdint>
#include <cstdio>

namespace q218::sim {

const char* KindName(EntryKind kind) {
    switch (kind) {
        case EntryKind::IdentifyQuery:
            return "identify-query";
        case EntryKind::IdentifyReply:
            return "identify-reply";
        case EntryKind::ResetCommand:
            return "reset-command";
        case EntryKind::ResetByHand:
            return "reset-by-hand";
        case EntryKind::Noise:
            return "noise";
        case EntryKind::Enq:
            return "enq";
        case EntryKind::Ack:
            return "ack";
        case EntryKind::Handshake:
            return "handshake";
        case EntryKind::Ready:
            return "ready";
        case EntryKind::Frame:
            return "frame";
        case EntryKind::FrameReply:
            return "frame-reply";
        case EntryKind::End:
            return "end";
        case EntryKind::Unexpected:
            return "unexpected";
        case EntryKind::Lost:
            return "lost";
    }
    return "?";
}

std::string Describe(const TranscriptEntry& entry) {
    // Who sent the bytes: the host (updater) or the device.
    std::string line = entry.direction == Direction::ToDevice ? "host   " : "device ";
    line += KindName(entry.kind);
    if (entry.frame >= 0) {
        line += ' ';  // not " " + std::string: g++ 12 at -O3 warns falsely (-Wrestrict)
        line += std::to_string(entry.frame);
    }
    line += ":";
    for (char c : entry.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", static_cast<std::uint8_t>(c));
        line += hex;
    }
    return line;
}

std::string Describe(const Transcript& transcript) {
    std::string text;
    for (const TranscriptEntry& entry : transcript) {
        text += Describe(entry);
        text += '\n';
    }
    return text;
}

}  // namespace q218::sim
