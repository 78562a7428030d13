#include "download/DownloadRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/RecordSend.h"
#include "image/FirmwareImage.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/Bytes.h"
#include "support/ExpectedMemory.h"
#include "support/FakeView.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;

constexpr std::int16_t kPort = 3;
// A wait that never ends on a line still present is cut here, failing the test, not hanging.
constexpr long kProcessEventsLimit = 2'000'000;
struct RunHung {};

const std::string kUpdateError = "Update Error.";
const std::string kUpdating = "Updating Q218 firmware.";
constexpr char kAckByte = 0x06;

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
    sim::InMemoryLink link{clock};
    LinkContext context{link, view, clock};
    ReplyFields fields{};
    FirmwareImage image;
    std::size_t start = 0;
};

using sim::Direction;
using sim::EntryKind;

std::string Out(EntryKind kind, std::string_view bytes) {
    return Bench::Entry(Direction::ToDevice, kind, bytes);
}
std::string In(EntryKind kind, std::string_view bytes) {
    return Bench::Entry(Direction::FromDevice, kind, bytes);
}
std::string Frame(const std::string& line) {
    const std::vector<std::uint8_t> bytes = Record_Frame(line).bytes;
    return Out(EntryKind::Frame, std::string(bytes.begin(), bytes.end()));
}

// Reset, ENQ, ACK, the two handshake characters and the first "T".
std::vector<std::string> Opening(std::string_view handshake = "B2") {
    return {Out(EntryKind::ResetCommand, "977\r"), In(EntryKind::Enq, "\x05"),
            Out(EntryKind::Ack, "\x06"), In(EntryKind::Handshake, handshake),
            In(EntryKind::Ready, "T")};
}

// Every line of the compacted image that lies below word 0x2000 as a frame and its "T".
std::vector<std::string> AllFrames(const FirmwareImage& compacted) {
    std::vector<std::string> entries;
    for (const std::string& line : compacted) {
        if (Record_Frame(line).outcome == RecordOutcome::Sent) {
            entries.push_back(Frame(line));
            entries.push_back(In(EntryKind::FrameReply, "T"));
        }
    }
    return entries;
}

// Words 0 to 2 still lead into the bootloader: the device can always be updated again.
void ExpectNotBricked(const Bench& bench) {
    EXPECT_FALSE(bench.device.IsBricked());
    EXPECT_EQ(bench.device.Word(0), 0x158A);
    EXPECT_EQ(bench.device.Word(1), 0x160A);
    EXPECT_EQ(bench.device.Word(2), 0x2F40);
}

// Only Exit is left, and it has the focus.
void ExpectOnlyExit(const Bench& bench) {
    EXPECT_FALSE(bench.view.IsEnabled(Button::cmdOK));
    EXPECT_FALSE(bench.view.IsEnabled(Button::cmdUpdate));
    EXPECT_TRUE(bench.view.IsEnabled(Button::cmdExit));
    EXPECT_EQ(bench.view.Focus(), FocusTarget::cmdExit);
    EXPECT_TRUE(bench.view.Violations().empty());
}

TEST(DownloadRun, CleanRunOfTheEmbeddedImage) {
    Bench bench(
        sim::PreviousFirmware{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"});
    bench.Connect();
    const FirmwareImage patched = bench.image;

    ASSERT_EQ(bench.Run(), DownloadEnding::Finished);

    ASSERT_EQ(bench.image.size(), test::ReadImageInput().size() - 1)
        << "the tag line is dropped for good";
    EXPECT_EQ(bench.image.front(), ":020000040000FA");
    std::vector<std::string> expected = Opening();
    for (const std::string& entry : AllFrames(bench.image)) {
        expected.push_back(entry);
    }
    expected.push_back(Out(EntryKind::End, ":S"));
    expected.push_back(Out(EntryKind::IdentifyQuery, "990\r"));
    expected.push_back(In(EntryKind::IdentifyReply, bench.device.IdentificationText()));
    EXPECT_EQ(bench.Transcript(), expected);
    EXPECT_EQ(bench.device.FramesReceived(), static_cast<int>(test::BlocksOfUpdate(patched).size()))
        << "every record but the configuration word";
    EXPECT_EQ(bench.device.RefusedWords(), 0);

    // What the device holds now is the image, with its own reset vector moved to word 3.
    for (const auto& [address, word] : test::ProgramWords(patched)) {
        EXPECT_EQ(bench.device.Word(address), word) << "word " << address;
    }
    EXPECT_EQ(bench.device.Word(3), test::InputResetWord());
    EXPECT_EQ(bench.device.Word(0x2007), 0x3F32) << "the configuration word is never sent";
    ExpectNotBricked(bench);

    EXPECT_EQ(bench.view.GetPanelText("rev"), test::InputTag().revision);
    EXPECT_EQ(bench.view.GetPanelText("ser"), "123456");
    EXPECT_EQ(bench.view.GetPanelText("mod"), "Q218");
    EXPECT_EQ(bench.view.GetPanelText("dat"), test::InputTag().date);
    const std::vector<std::string> messages = {"Resetting Q218 to start update.", kUpdating,
                                               "Update complete!"};
    EXPECT_EQ(bench.view.Messages(), messages);
    EXPECT_TRUE(bench.view.MessageBoxes().empty());
    EXPECT_EQ(bench.view.TrackColour(), kBlack);
    EXPECT_FALSE(bench.link.PortOpen());
    EXPECT_EQ(bench.link.Misuses(), 0);
    ExpectOnlyExit(bench);

    // One step per line, full width exactly when the last line (end of file) has its turn;
    // the configuration line's step is taken without a reply.
    const double last = static_cast<double>(bench.image.size() - 1);
    std::vector<float> steps;
    for (int i = 0; i <= last; ++i) {
        steps.push_back(static_cast<float>(i / last));
    }
    EXPECT_EQ(bench.view.ProgressHistory(), steps);
}

TEST(DownloadRun, DeviceThatGaveItsModelAloneIsResetByHand) {
    // The application is gone: the device answers "Q218" alone and ignores "977".
    Bench bench;
    bench.device.BreakApplication();
    bench.Connect();
    ASSERT_EQ(bench.view.GetPanelText("rev"), "");
    bench.view.When([&] { return bench.view.ProcessEventsCalls() > 500; },
                    [&] { bench.device.ResetByHand(); });
    const std::string writtenBefore = bench.link.Written(kPort);

    ASSERT_EQ(bench.Run(), DownloadEnding::Finished);

    EXPECT_EQ(bench.view.Messages().front(), "Please reset Q218 to start update.");
    // The same bytes as with a device that takes the reset command.
    Bench usual;
    usual.Connect();
    const std::string usualBefore = usual.link.Written(kPort);
    ASSERT_EQ(usual.Run(), DownloadEnding::Finished);
    EXPECT_EQ(usual.view.Messages().front(), "Resetting Q218 to start update.");
    EXPECT_EQ(bench.link.Written(kPort).substr(writtenBefore.size()),
              usual.link.Written(kPort).substr(usualBefore.size()));
    ExpectNotBricked(bench);
    EXPECT_EQ(bench.view.GetPanelText("rev"), test::InputTag().revision);
}

TEST(DownloadRun, WhateverComesBeforeTheFirstReplyIsDropped) {
    struct Row {
        const char* name;
        std::string noise;
        std::string handshake;
    };
    const Row rows[] = {
        {"noise before ENQ", "xyz\r\n", "B2"},
        {"ACK, BEL and T before ENQ", "\x06\x07T", "B2"},
        {"a T among the two dropped characters", "", "TT"},
        {"BEL among the two dropped characters", "", "\x07\x05"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.device.NoiseBeforeEnq(row.noise);
        bench.device.HandshakeCharacters(row.handshake);
        bench.Connect();

        ASSERT_EQ(bench.Run(), DownloadEnding::Finished);
        std::vector<std::string> expected = Opening(row.handshake);
        if (!row.noise.empty()) {
            expected.insert(expected.begin() + 1, In(EntryKind::Noise, row.noise));
        }
        const std::vector<std::string> transcript = bench.Transcript();
        ASSERT_GE(transcript.size(), expected.size() + 1);
        EXPECT_EQ(
            std::vector<std::string>(transcript.begin(), transcript.begin() + expected.size()),
            expected);
        // Line 0 goes out once, after the "T" that follows the handshake.
        EXPECT_EQ(transcript[expected.size()], Frame(bench.image[0]));
        EXPECT_EQ(bench.device.FramesReceived(),
                  static_cast<int>(test::BlocksOfUpdate(test::ReadImageInput()).size()));
        ExpectNotBricked(bench);
    }
}

// Characters already received raise no event of the window: the run reads them without
// waiting, and waits only when nothing is buffered. Dropping 2,000 characters of junk
// before ENQ costs a few waits, not one wait per character.
TEST(DownloadRun, JunkAlreadyReceivedIsDroppedWithoutWaiting) {
    struct Row {
        const char* name;
        bool paced;
        std::chrono::nanoseconds wait;  // how long one wait of the window lasts
    };
    const Row rows[] = {
        {"junk and ENQ arrive together", false, 1ms},
        // The junk takes 2.1 s on a 9600-baud line: the first wait ends with part of it
        // received, the second with the rest and ENQ.
        {"junk, then ENQ a wait later", true, 1500ms},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.device.Paced(row.paced);
        bench.device.NoiseBeforeEnq(std::string(2000, 'x'));
        bench.Connect();
        bench.view.OnProcessEvents([&] { bench.clock.Advance(row.wait - 1ms); });
        const long before = bench.view.ProcessEventsCalls();
        long atAck = -1;
        bench.view.When(
            [&] { return bench.link.Written(kPort).find(kAckByte) != std::string::npos; },
            [&] { atAck = bench.view.ProcessEventsCalls(); });

        ASSERT_EQ(bench.Run(), DownloadEnding::Finished);
        ASSERT_GE(atAck, 0);
        EXPECT_LE(atAck - before, 4) << "waits from the reset command to just after ACK";
        EXPECT_EQ(bench.device.FramesReceived(), 367);
    }
}

TEST(DownloadRun, BelRepeatsTheLastFrameAndMovesTheBarBack) {
    Bench bench;
    bench.device.BelAfterFrame(5, 3);
    bench.Connect();

    ASSERT_EQ(bench.Run(), DownloadEnding::Finished);

    const sim::Transcript frames = bench.device.Frames();
    ASSERT_EQ(frames.size(), test::BlocksOfUpdate(test::ReadImageInput()).size() + 3);
    for (int retry = 6; retry <= 8; ++retry) {
        EXPECT_EQ(frames[retry].bytes, frames[5].bytes) << "frame " << retry;
    }
    EXPECT_EQ(Bench::Entry(frames[9].direction, frames[9].kind, frames[9].bytes),
              Frame(bench.image[6]));
    // Line 5 had its turn, then three BELs gave the turn back to it each time.
    const std::vector<float>& history = bench.view.ProgressHistory();
    const double last = static_cast<double>(bench.image.size() - 1);
    const float five = static_cast<float>(5 / last);
    const std::vector<float> around(history.begin() + 5, history.begin() + 10);
    EXPECT_EQ(around, (std::vector<float>{five, five, five, five, static_cast<float>(6 / last)}));
    EXPECT_EQ(history.back(), 1.0F);
    ExpectNotBricked(bench);
}

TEST(DownloadRun, ReplyOtherThanTOrBelEndsInUpdateError) {
    struct Row {
        const char* name;
        int frame;
        char reply;
    };
    const Row rows[] = {
        {"lower-case t", 7, 't'},
        {"garbage", 7, '?'},
        {"NUL", 200, '\0'},
        {"ENQ again", 0, '\x05'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.device.ReplyAfterFrame(row.frame, row.reply);
        bench.Connect();

        ASSERT_EQ(bench.Run(), DownloadEnding::BootloaderReply);

        EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{kUpdateError});
        EXPECT_EQ(bench.view.GetText(TextBox::Text1), std::string(1, row.reply));
        EXPECT_EQ(bench.view.GetText(TextBox::Text2), kUpdating);
        EXPECT_TRUE(bench.link.PortOpen()) << "the port is left open after Update Error.";
        const std::vector<std::string> transcript = bench.Transcript();
        EXPECT_EQ(transcript.back(), In(EntryKind::FrameReply, std::string(1, row.reply)));
        EXPECT_EQ(bench.device.FramesReceived(), row.frame + 1);
        ExpectOnlyExit(bench);
        ExpectNotBricked(bench);
    }
}

TEST(DownloadRun, ResetVectorOfTwoWordsIsRejected) {
    Bench bench;
    bench.Connect();
    const std::size_t resetVector = test::ResetVectorIndexOf(bench.image);
    ASSERT_LT(resetVector, bench.image.size());
    bench.image[resetVector] = ":040000000628FF3F6E";

    ASSERT_EQ(bench.Run(), DownloadEnding::ImageRejected);

    EXPECT_EQ(bench.view.MessageBoxes(),
              std::vector<std::string>{
                  "This HEX file does not appear to have the correct goto statement. Please "
                  "double check that the proper 'origin 4' statement has been inserted at the "
                  "beginning of the C program."});
    // Only the address record went out; nothing of the rejected record did.
    std::vector<std::string> expected = Opening();
    expected.push_back(Frame(bench.image[0]));
    expected.push_back(In(EntryKind::FrameReply, "T"));
    EXPECT_EQ(bench.Transcript(), expected);
    EXPECT_FALSE(bench.link.PortOpen());
    ExpectOnlyExit(bench);
    ExpectNotBricked(bench);
}

TEST(DownloadRun, SilentDeviceIsWaitedForWithoutLimit) {
    struct StillWaiting {};
    Bench bench;
    bench.device.SilentFromFrame(10);
    bench.Connect();
    // A day of fake time in steps of a minute, then the test ends the wait itself.
    bench.view.OnProcessEvents([&] { bench.clock.Advance(std::chrono::minutes(1)); });
    bench.view.When([&] { return bench.view.ProcessEventsCalls() > 24 * 60; },
                    [] { throw StillWaiting{}; });
    // Exit is disabled once the bootloader answered: a click must do nothing.
    bool exitRan = false;
    bench.view.WhenClick([&] { return bench.view.ProcessEventsCalls() > 100; }, Button::cmdExit,
                         [&] { exitRan = true; });

    EXPECT_THROW(bench.Run(), StillWaiting);

    EXPECT_FALSE(exitRan);
    EXPECT_EQ(bench.device.FramesReceived(), 11);
    EXPECT_TRUE(bench.view.MessageBoxes().empty());
    EXPECT_FALSE(bench.view.IsEnabled(Button::cmdExit));
    EXPECT_TRUE(bench.link.PortOpen());
    ExpectNotBricked(bench);
}

TEST(DownloadRun, ExitWhileWaitingForTheBootloaderEndsTheProgram) {
    Bench bench;
    bench.device.SilentBeforeEnq();
    bench.Connect();
    bench.view.WhenClick([&] { return bench.view.ProcessEventsCalls() > 1000; }, Button::cmdExit,
                         [] { throw ProgramEnded{}; });

    EXPECT_THROW(bench.Run(), ProgramEnded);

    EXPECT_EQ(bench.device.FramesReceived(), 0);
    EXPECT_TRUE(bench.view.MessageBoxes().empty());
    ExpectNotBricked(bench);
}

TEST(DownloadRun, VanishedLineEndsInUpdateErrorInsteadOfWaiting) {
    {
        SCOPED_TRACE("unplugged while a frame arrives");
        Bench bench;
        bench.device.UnplugAtFrame(20);
        bench.Connect();

        ASSERT_EQ(bench.Run(), DownloadEnding::LineLost);
        EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{kUpdateError});
        EXPECT_EQ(bench.device.FramesReceived(), 21);
        ExpectOnlyExit(bench);
        ExpectNotBricked(bench);
    }
    {
        SCOPED_TRACE("unplugged while waiting for ENQ");
        Bench bench;
        bench.device.SilentBeforeEnq();
        bench.Connect();
        bench.view.When([&] { return bench.view.ProcessEventsCalls() > 1000; },
                        [&] { bench.device.Unplug(); });

        ASSERT_EQ(bench.Run(), DownloadEnding::LineLost);
        EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{kUpdateError});
        ExpectOnlyExit(bench);
    }
    {
        SCOPED_TRACE("port held by another program");
        Bench bench;
        bench.Connect();
        bench.link.SetBusy(kPort, true);
        const std::string writtenBefore = bench.link.Written(kPort);

        ASSERT_EQ(bench.Run(), DownloadEnding::PortNotOpened);
        EXPECT_EQ(bench.result.openError.failure, OpenFailure::Busy);
        EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{kUpdateError});
        EXPECT_EQ(bench.link.Written(kPort), writtenBefore) << "nothing was sent";
        ExpectOnlyExit(bench);
    }
}

TEST(DownloadRun, ShortImagesEndTheTransferAfterTheirLastLine) {
    struct Row {
        const char* name;
        FirmwareImage image;
        std::vector<float> progress;
    };
    const std::string addressRecord = ":020000040000FA";
    const std::string resetVector = ":020000000628D0";
    const std::string config = ":02400E00323F3F";
    const Row rows[] = {
        {"configuration record last, no end-of-file record",
         {kMarkerText, addressRecord, resetVector, config},
         {0.0F, 0.5F, 1.0F}},
        {"last frame without an end-of-file record", {addressRecord, resetVector}, {0.0F, 1.0F}},
        {"one end-of-file line", {":00000001FF"}, {1.0F}},
        {"one data line", {resetVector}, {1.0F}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.Connect();
        bench.image = row.image;

        ASSERT_EQ(bench.Run(), DownloadEnding::Finished);

        std::vector<std::string> expected = Opening();
        const std::vector<std::string> frames = AllFrames(bench.image);
        expected.insert(expected.end(), frames.begin(), frames.end());
        // The end bytes follow the last frame at once; its "T" arrives as the port closes.
        const std::vector<std::string> transcript = bench.Transcript();
        ASSERT_GE(transcript.size(), expected.size());
        EXPECT_EQ(
            std::vector<std::string>(transcript.begin(), transcript.begin() + expected.size()),
            expected);
        EXPECT_NE(std::find(transcript.begin(), transcript.end(), Out(EntryKind::End, ":S")),
                  transcript.end());
        EXPECT_EQ(bench.view.ProgressHistory(), row.progress);
        EXPECT_EQ(bench.view.Messages().back(), "Update complete!");
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

TEST(DownloadRun, MalformedLineEndsInUpdateErrorWithoutSendingIt) {
    Bench bench;
    bench.Connect();
    bench.image[5] = ":03000800010203F1";  // an odd count cannot fill whole words

    ASSERT_EQ(bench.Run(), DownloadEnding::RecordMalformed);

    EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{kUpdateError});
    EXPECT_EQ(bench.device.FramesReceived(), 4) << "lines 0 to 3 of the compacted image";
    ExpectOnlyExit(bench);
    ExpectNotBricked(bench);
}

}  // namespace
}  // namespace q218
