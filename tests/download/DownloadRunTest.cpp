// Whole updates that finish: the transfer as the device sees it, and what it tolerates.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "DownloadRunFixture.h"

namespace q218::test {
namespace {

using namespace std::chrono_literals;

TEST(DownloadRun, CleanRunOfTheEmbeddedImage) {
    Bench bench(
        sim::PreviousFirmware{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"});
    bench.Connect();
    const FirmwareImage patched = bench.image;

    ASSERT_EQ(bench.Run(), DownloadEnding::Finished);

    ASSERT_EQ(bench.image.size(), test::ReadImageInput().size() - 1)
        << "the tag line is dropped for good";
    EXPECT_EQ(bench.image.front(), ":020000040000FA");
    std::vector<std::string> expected = OpeningAndAllFrames(bench.image);
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
    OnEachBench(rows, [](Bench& bench, const Row& row) {
        bench.device.NoiseBeforeEnq(row.noise);
        bench.device.HandshakeCharacters(row.handshake);
        bench.Connect();

        ASSERT_EQ(bench.Run(), DownloadEnding::Finished);
        std::vector<std::string> expected = Opening(row.handshake);
        if (!row.noise.empty()) {
            expected.insert(expected.begin() + 1, In(EntryKind::Noise, row.noise));
        }
        // Line 0 goes out once, after the "T" that follows the handshake.
        expected.push_back(Frame(bench.image[0]));
        ExpectTranscriptStartsWith(bench.Transcript(), expected);
        EXPECT_EQ(bench.device.FramesReceived(),
                  static_cast<int>(test::BlocksOfUpdate(test::ReadImageInput()).size()));
        ExpectNotBricked(bench);
    });
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
    OnEachBench(rows, [](Bench& bench, const Row& row) {
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
    });
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
    OnEachBench(rows, [](Bench& bench, const Row& row) {
        bench.Connect();
        bench.image = row.image;

        ASSERT_EQ(bench.Run(), DownloadEnding::Finished);

        const std::vector<std::string> expected = OpeningAndAllFrames(bench.image);
        // The end bytes follow the last frame at once; its "T" arrives as the port closes.
        const std::vector<std::string> transcript = bench.Transcript();
        ExpectTranscriptStartsWith(transcript, expected);
        EXPECT_NE(std::find(transcript.begin(), transcript.end(), Out(EntryKind::End, ":S")),
                  transcript.end());
        EXPECT_EQ(bench.view.ProgressHistory(), row.progress);
        EXPECT_EQ(bench.view.Messages().back(), "Update complete!");
        EXPECT_TRUE(bench.view.Violations().empty());
    });
}

}  // namespace
}  // namespace q218::test
