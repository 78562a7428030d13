#pragma once
// What crossed the simulated line during a download, and the time the line and the device's
// flash writes force on it: the bound the wire benchmarks hold a measured update against.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "sim/PtyServer.h"
#include "sim/SimulatedQ218.h"
#include "sim/Transcript.h"

namespace q218::bench {

inline constexpr double kBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
inline constexpr double kBaud = 9600.0;

struct WireCount {
    long bytes = 0;  // both directions, from the reset command to ":" "S"
    long words = 0;  // program words the device wrote
    long frames = 0;
    // From a reply ("T" or BEL) becoming readable to the first byte of the next frame reaching
    // the device: the frame's last byte arrived one byte time per byte after its first.
    std::vector<double> replyToFrameMs;
};

// Counts what crossed the line during the download: the transcript entries from the reset
// command up to the end of transfer.
inline WireCount CountDownload(const sim::Transcript& transcript) {
    WireCount count;
    bool inDownload = false;
    std::chrono::nanoseconds replyAt{};
    for (const sim::TranscriptEntry& entry : transcript) {
        if (entry.kind == sim::EntryKind::ResetCommand) {
            inDownload = true;
        }
        if (!inDownload || entry.kind == sim::EntryKind::Lost) {
            continue;
        }
        count.bytes += static_cast<long>(entry.bytes.size());
        if (entry.kind == sim::EntryKind::Frame) {
            ++count.frames;
            const auto first = entry.at - sim::kByteTime * static_cast<long>(entry.bytes.size());
            count.replyToFrameMs.push_back(
                std::chrono::duration<double, std::milli>(first - replyAt).count());
        }
        if (entry.kind == sim::EntryKind::Ready || entry.kind == sim::EntryKind::FrameReply) {
            replyAt = entry.at;
        }
        if (entry.kind == sim::EntryKind::Frame && entry.bytes.size() > 1) {
            count.words += static_cast<unsigned char>(entry.bytes[1]) / 2;
        }
        if (entry.kind == sim::EntryKind::End) {
            break;
        }
    }
    return count;
}

// Every byte both ways at ten bit times, plus the flash write time of every word written.
inline double WireBoundSeconds(const WireCount& count, std::chrono::microseconds writeTime) {
    return static_cast<double>(count.bytes) * kBitsPerByte / kBaud +
           static_cast<double>(count.words) * std::chrono::duration<double>(writeTime).count();
}

// What crossed the line of the device `server` serves.
inline WireCount CountDownload(sim::PtyServer& server) {
    return server.WithDevice(
        [](sim::SimulatedQ218& device) { return CountDownload(device.Transcript()); });
}

// The simulated Q218 on a pseudo-terminal, paced like a 9600-baud line, `writeTime` per
// program word. Ends the benchmark, with the reason printed, when the system gives no
// pseudo-terminal.
inline std::unique_ptr<sim::PtyServer> PacedDevice(std::chrono::microseconds writeTime) {
    sim::PtyServer::Created created = sim::PtyServer::Create(sim::PreviousFirmware{});
    if (!created.server) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", created.error.c_str());
        std::exit(1);
    }
    created.server->WithDevice([&](sim::SimulatedQ218& device) {
        device.Paced(true);
        device.WordWriteTime(writeTime);
    });
    return std::move(created.server);
}

}  // namespace q218::bench
