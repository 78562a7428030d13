// Whole updates as a technician makes them: the real window on Qt's offscreen platform, the
// real QSerialPort link and the simulated Q218 on a pseudo-terminal, the test clicking the
// buttons. Each update ends with the device's program memory compared word for word with the
// image.

#include <functional>
#include <ostream>

#include <gtest/gtest.h>

#include "UpdateSession.h"

namespace q218::test {
namespace {

const sim::PreviousFirmware kWithSerial{
    .serial = "123456", .revision = "R04.5", .date = "2021-11-02"};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        m_image = ReadImageInput();
        m_tag = TagFieldsOf(m_image);
        ASSERT_EQ(m_tag.size(), 4U) << "the image input has no tag line";
    }

    // Starts the session and reads the device's memory before anything is sent.
    std::unique_ptr<UpdateSession> Start(const sim::PreviousFirmware& firmware) {
        auto session = std::make_unique<UpdateSession>(firmware);
        if (session->Valid()) {
            m_before = session->ReadMemory();
        }
        return session;
    }

    // The device's memory: the first `blocks` frames of an update with `serial` written over
    // what it held before, nothing else changed.
    void ExpectMemoryAfter(UpdateSession& session, const std::string& serial, std::size_t blocks) {
        const std::vector<WrittenBlock> all = BlocksOfUpdate(m_image, serial);
        const Memory expected = AfterBlocks(m_before, all, blocks);
        const Memory actual = session.ReadMemory();
        const MemoryDifference difference = Compare(actual, expected);
        EXPECT_EQ(difference.count, 0U) << difference.firstFew;
        EXPECT_EQ(actual.config, m_before.config) << "the configuration word was written";
    }

    // The ending every finished update shares: the message, a full bar, the panels showing
    // the image's firmware with `serial`, only Exit left, and the memory as the image says.
    void ExpectFinished(UpdateSession& session, const std::string& serial) {
        const WindowDriver& window = session.Window();
        EXPECT_FALSE(window.WatchdogFired());
        EXPECT_TRUE(window.MessageBoxes().empty());
        EXPECT_EQ(window.Text(TextBox::Text2), "Update complete!");
        EXPECT_DOUBLE_EQ(window.Progress(), 1.0);
        EXPECT_EQ(window.Panel("mod"), "Q218");
        EXPECT_EQ(window.Panel("ser"), serial);
        EXPECT_EQ(window.Panel("rev"), m_tag[2]);
        EXPECT_EQ(window.Panel("dat"), m_tag[3]);
        EXPECT_FALSE(window.Enabled(Button::cmdOK));
        EXPECT_FALSE(window.Enabled(Button::cmdUpdate));
        EXPECT_TRUE(window.Enabled(Button::cmdExit));

        const Memory memory = session.ReadMemory();
        // The reset vector leads into the bootloader; the program's own first word follows.
        EXPECT_EQ(memory.words[0], 0x158A);
        EXPECT_EQ(memory.words[1], 0x160A);
        EXPECT_EQ(memory.words[2], 0x2F40);
        EXPECT_EQ(memory.words[3], InputResetWord());
        ExpectMemoryAfter(session, serial, BlocksOfUpdate(m_image, serial).size());
        EXPECT_EQ(session.Device().WithDevice(
                      [](sim::SimulatedQ218& d) { return d.IdentificationText(); }),
                  serial + " Q218 " + m_tag[2] + " " + m_tag[3] + " \r");
    }

    std::vector<std::string> m_image;
    std::vector<std::string> m_tag;
    Memory m_before;
};

TEST_F(EndToEnd, DeviceWithASerialNumberKeepsItThroughTheUpdate) {
    auto session = Start(kWithSerial);
    ASSERT_TRUE(session->Valid()) << session->Error();
    WindowDriver& window = session->Window();

    ASSERT_TRUE(session->Click(Button::cmdOK));
    EXPECT_EQ(window.Text(TextBox::Text2), "Q218 found on COM 3");
    EXPECT_EQ(window.Panel("ser"), "123456");
    EXPECT_EQ(window.Panel("rev"), "R04.5");
    EXPECT_FALSE(window.SerialBoxShown());
    EXPECT_FALSE(window.Enabled(Button::cmdOK));
    ASSERT_TRUE(window.Enabled(Button::cmdUpdate));

    ASSERT_TRUE(session->Click(Button::cmdUpdate));
    ExpectFinished(*session, "123456");
}

struct NoSerialRow {
    const char* name;
    const char* deviceSerial;
};

void PrintTo(const NoSerialRow& row, std::ostream* out) {
    *out << row.name;
}

class EndToEndNoSerial : public EndToEnd, public ::testing::WithParamInterface<NoSerialRow> {};

TEST_P(EndToEndNoSerial, TechnicianTypesTheSerialNumber) {
    auto session =
        Start({.serial = GetParam().deviceSerial, .revision = "R04.5", .date = "2021-11-02"});
    ASSERT_TRUE(session->Valid()) << session->Error();
    WindowDriver& window = session->Window();

    ASSERT_TRUE(session->Click(Button::cmdOK));
    EXPECT_EQ(window.Text(TextBox::Text2), "Enter serial number.");
    ASSERT_TRUE(window.SerialBoxShown());
    EXPECT_FALSE(window.Enabled(Button::cmdUpdate));

    // A short entry is refused and the box stays open for another try.
    window.TypeSerialAndEnter("12345");
    EXPECT_TRUE(window.SerialBoxShown());
    EXPECT_FALSE(window.Enabled(Button::cmdUpdate));

    window.TypeSerialAndEnter("654321");
    EXPECT_EQ(window.Text(TextBox::Text2), "Ready for update.");
    EXPECT_FALSE(window.SerialBoxShown());
    EXPECT_FALSE(window.Enabled(Button::cmdOK));
    ASSERT_TRUE(window.Enabled(Button::cmdUpdate));

    ASSERT_TRUE(session->Click(Button::cmdUpdate));
    ExpectFinished(*session, "654321");
}

INSTANTIATE_TEST_SUITE_P(Rows, EndToEndNoSerial,
                         ::testing::Values(NoSerialRow{"EmptySerial", ""},
                                           NoSerialRow{"FactoryPlaceholder", "999999"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, BelStormsAreAnsweredWithTheSameFrameUntilTheDeviceTakesIt) {
    auto session = Start(kWithSerial);
    ASSERT_TRUE(session->Valid()) << session->Error();
    // Frame indexes count every frame received, repeats included: 40 refusals of the reset
    // vector's record (frame 1), then 25 of a record in the middle.
    constexpr int kFirstStorm = 40;
    constexpr int kSecondStorm = 25;
    session->Device().WithDevice([&](sim::SimulatedQ218& d) {
        d.BelAfterFrame(1, kFirstStorm);
        d.BelAfterFrame(200, kSecondStorm);
    });

    ASSERT_TRUE(session->Click(Button::cmdOK));
    ASSERT_TRUE(session->Click(Button::cmdUpdate));
    ExpectFinished(*session, "123456");
    const int framesReceived =
        session->Device().WithDevice([](sim::SimulatedQ218& d) { return d.FramesReceived(); });
    EXPECT_EQ(framesReceived, static_cast<int>(BlocksOfUpdate(m_image, "123456").size()) +
                                  kFirstStorm + kSecondStorm);
}

// The line goes under the transfer: as a frame arrives, or right after a "T" while the next
// frame or the end bytes wait to leave (QSerialPort then fails the write from inside our own
// calls). Frames count from 0.
TEST_F(EndToEnd, AdapterPulledOutMidTransferEndsWithUpdateErrorNotAHang) {
    const int frames = static_cast<int>(BlocksOfUpdate(m_image, "123456").size());
    const struct {
        const char* name;
        std::function<void(sim::SimulatedQ218&)> fault;
        int framesWritten;
    } rows[] = {
        {"pulled at frame 150", [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); }, 150},
        {"gone with frame 100 queued", [](sim::SimulatedQ218& d) { d.UnplugAfterReplyToFrame(99); },
         100},
        {"gone with the end bytes queued",
         [&](sim::SimulatedQ218& d) { d.UnplugAfterReplyToFrame(frames - 1); }, frames},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto session = Start(kWithSerial);
        ASSERT_TRUE(session->Valid()) << session->Error();
        WindowDriver& window = session->Window();
        session->Device().WithDevice(row.fault);

        ASSERT_TRUE(session->Click(Button::cmdOK));
        ASSERT_TRUE(session->Click(Button::cmdUpdate));

        EXPECT_FALSE(window.WatchdogFired());
        // The end bytes that never left are no complete update either.
        EXPECT_EQ(window.MessageBoxes(), std::vector<std::string>{"Update Error."});
        EXPECT_EQ(window.Text(TextBox::Text2), "Updating Q218 firmware.");
        EXPECT_GT(window.Progress(), 0.0);
        EXPECT_FALSE(window.Enabled(Button::cmdOK));
        EXPECT_FALSE(window.Enabled(Button::cmdUpdate));
        EXPECT_TRUE(window.Enabled(Button::cmdExit));
        // The frames before the pull were written; the device still starts its bootloader, so
        // the update can be made again once the adapter is back.
        ExpectMemoryAfter(*session, "123456", static_cast<std::size_t>(row.framesWritten));
        EXPECT_FALSE(
            session->Device().WithDevice([](sim::SimulatedQ218& d) { return d.IsBricked(); }));
    }
}

}  // namespace
}  // namespace q218::test
