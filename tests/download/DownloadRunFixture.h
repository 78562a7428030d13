#pragma once
// A whole update against the simulated Q218 on the in-memory line, as the connect workflow
// leaves device, line, window and image before "&Update", with the transcript entries and
// the checks the run tests share.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download/DownloadRun.h"
#include "download/RecordSend.h"
#include "image/FirmwareImage.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/Bytes.h"
#include "support/ExpectedMemory.h"
#include "support/FakeView.h"

namespace q218::test {

inline constexpr std::int16_t kPort = 3;
// A wait that never ends on a line still present is cut here, failing the test, not hanging.
inline constexpr long kProcessEventsLimit = 2'000'000;
struct RunHung {};

inline const std::string kUpdateError = "Update Error.";
inline const std::string kUpdating = "Updating Q218 firmware.";
inline constexpr char kAckByte = 0x06;

// Device, line, window and image as the connect workflow leaves them before "&Update".
struct Bench {
    explicit Bench(const sim::PreviousFirmware& firmware = {}) : device(clock, firmware) {
        link.Attach(kPort, device);
        image = Image_Build();
        // Marks the tag line, as the window's start does; the tag itself is not read here.
        static_cast<void>(Tag_Read(image));
        view.OnProcessEvents([this] {
            if (view.ProcessEventsCalls() > kProcessEventsLimit) {
                throw RunHung{};
            }
        });
    }

    // The identification and the serial patch that precede the update.
    void Connect(std::string_view serial = "123456") {
        // Only the panels the query fills matter to the update.
        static_cast<void>(Detect(context, kPort, fields));
        ASSERT_EQ(Serial_Patch(image, serial), PatchResult::Replaced);
        view.SetEnabled(Button::cmdUpdate, true);
        view.SetFocus(FocusTarget::cmdUpdate);
        start = device.Transcript().size();
    }

    // Runs the update; its whole account stays in `result`.
    DownloadEnding Run() {
        result = RunDownload(context, image, kPort, fields);
        return result.ending;
    }
    DownloadResult result;

    // The device's transcript since Connect, one "direction kind bytes" text per entry.
    std::vector<std::string> Transcript() const {
        std::vector<std::string> entries;
        const sim::Transcript& all = device.Transcript();
        for (std::size_t i = start; i < all.size(); ++i) {
            entries.push_back(Entry(all[i].direction, all[i].kind, all[i].bytes));
        }
        return entries;
    }

    static std::string Entry(sim::Direction direction, sim::EntryKind kind,
                             std::string_view bytes) {
        return std::string(direction == sim::Direction::ToDevice ? "out " : "in ") +
               sim::KindName(kind) + " " + test::Hex({bytes.begin(), bytes.end()});
    }

    sim::FakeClock clock;
    test::FakeView view{clock};
    sim::SimulatedQ218 device;
    sim::InMemoryLink link;
    LinkContext context{link, view, clock};
    ReplyFields fields{};
    FirmwareImage image;
    std::size_t start = 0;
};

// Every row on a bench of its own, the row's name on every failure; `check` sets up the
// device, connects and runs.
template <class Row, std::size_t N, class Check>
void OnEachBench(const Row (&rows)[N], Check check) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        check(bench, row);
    }
}

using sim::Direction;
using sim::EntryKind;

inline std::string Out(EntryKind kind, std::string_view bytes) {
    return Bench::Entry(Direction::ToDevice, kind, bytes);
}
inline std::string In(EntryKind kind, std::string_view bytes) {
    return Bench::Entry(Direction::FromDevice, kind, bytes);
}
// The bytes a line of the image goes out as.
inline std::string Wire(const std::string& line) {
    const std::vector<std::uint8_t> bytes = Record_Frame(line).bytes;
    return {bytes.begin(), bytes.end()};
}
inline std::string Frame(const std::string& line) {
    return Out(EntryKind::Frame, Wire(line));
}

// Reset, ENQ, ACK, the two handshake characters and the first "T".
inline std::vector<std::string> Opening(std::string_view handshake = "B2") {
    return {Out(EntryKind::ResetCommand, "977\r"), In(EntryKind::Enq, "\x05"),
            Out(EntryKind::Ack, "\x06"), In(EntryKind::Handshake, handshake),
            In(EntryKind::Ready, "T")};
}

// The opening, then every line of the compacted image that lies below word 0x2000 as a frame
// and its "T".
inline std::vector<std::string> OpeningAndAllFrames(const FirmwareImage& compacted) {
    std::vector<std::string> entries = Opening();
    for (const std::string& line : compacted) {
        if (Record_Frame(line).outcome == RecordOutcome::Sent) {
            entries.push_back(Frame(line));
            entries.push_back(In(EntryKind::FrameReply, "T"));
        }
    }
    return entries;
}

// The transcript since Connect begins with `expected`; what follows is the caller's.
inline void ExpectTranscriptStartsWith(const std::vector<std::string>& transcript,
                                       const std::vector<std::string>& expected) {
    ASSERT_GE(transcript.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(transcript.begin(), transcript.begin() + expected.size()),
              expected);
}

// Words 0 to 2 still lead into the bootloader: the device can always be updated again.
inline void ExpectNotBricked(const Bench& bench) {
    EXPECT_FALSE(bench.device.IsBricked());
    EXPECT_EQ(bench.device.Word(0), 0x158A);
    EXPECT_EQ(bench.device.Word(1), 0x160A);
    EXPECT_EQ(bench.device.Word(2), 0x2F40);
}

// Only Exit is left, and it has the focus.
inline void ExpectOnlyExit(const Bench& bench) {
    EXPECT_FALSE(bench.view.IsEnabled(Button::cmdOK));
    EXPECT_FALSE(bench.view.IsEnabled(Button::cmdUpdate));
    EXPECT_TRUE(bench.view.IsEnabled(Button::cmdExit));
    EXPECT_EQ(bench.view.Focus(), FocusTarget::cmdExit);
    EXPECT_TRUE(bench.view.Violations().empty());
}

// The one box "Update Error." was shown and only Exit is left.
inline void ExpectUpdateError(const Bench& bench) {
    EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{kUpdateError});
    ExpectOnlyExit(bench);
}

}  // namespace q218::test
