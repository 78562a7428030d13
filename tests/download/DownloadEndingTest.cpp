// Updates that end before "Update complete!": a reply other than "T" or BEL, a silent device,
// Exit, a lost or busy line, and image lines that cannot be sent.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "DownloadRunFixture.h"

namespace q218::test {
namespace {

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
    OnEachBench(rows, [](Bench& bench, const Row& row) {
        bench.device.ReplyAfterFrame(row.frame, row.reply);
        bench.Connect();

        ASSERT_EQ(bench.Run(), DownloadEnding::BootloaderReply);

        EXPECT_EQ(bench.view.GetText(TextBox::Text1), std::string(1, row.reply));
        EXPECT_EQ(bench.view.GetText(TextBox::Text2), kUpdating);
        EXPECT_TRUE(bench.link.PortOpen()) << "the port is left open after Update Error.";
        const std::vector<std::string> transcript = bench.Transcript();
        EXPECT_EQ(transcript.back(), In(EntryKind::FrameReply, std::string(1, row.reply)));
        EXPECT_EQ(bench.device.FramesReceived(), row.frame + 1);
        ExpectUpdateError(bench);
        ExpectNotBricked(bench);
    });
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
        EXPECT_EQ(bench.device.FramesReceived(), 21);
        ExpectUpdateError(bench);
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
        ExpectUpdateError(bench);
    }
    {
        SCOPED_TRACE("port held by another program");
        Bench bench;
        bench.Connect();
        bench.link.SetBusy(kPort, true);
        const std::string writtenBefore = bench.link.Written(kPort);

        ASSERT_EQ(bench.Run(), DownloadEnding::NotOpened);
        EXPECT_EQ(bench.result.openError.failure, OpenFailure::Busy);
        EXPECT_EQ(bench.link.Written(kPort), writtenBefore) << "nothing was sent";
        ExpectUpdateError(bench);
    }
}

TEST(DownloadRun, MalformedLineEndsInUpdateErrorWithoutSendingIt) {
    Bench bench;
    bench.Connect();
    bench.image[5] = ":03000800010203F1";  // an odd count cannot fill whole words

    ASSERT_EQ(bench.Run(), DownloadEnding::RecordMalformed);

    EXPECT_EQ(bench.device.FramesReceived(), 4) << "lines 0 to 3 of the compacted image";
    ExpectUpdateError(bench);
    ExpectNotBricked(bench);
}

}  // namespace
}  // namespace q218::test
