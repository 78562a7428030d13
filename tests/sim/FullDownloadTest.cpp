// A whole update of the simulated Q218 with the embedded image, driven by the scripted host:
// afterwards the device holds the image and reports the new revision and the serial number
// the frames carried. Faults on the way show up as the host sees them.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ScriptedHost.h"
#include "image/FirmwareImage.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/Bytes.h"
#include "support/ExpectedMemory.h"

namespace q218::sim {
namespace {

using namespace std::chrono_literals;
using test::ByteText;
using test::FrameForRecord;
using test::HostResult;
using test::ScriptedHost;

TEST(HostEncoder, MatchesTheFrameTable) {
    struct Row {
        const char* record;
        std::optional<std::string> frame;
    };
    const Row rows[] = {
        {":020000040000FA", ByteText("3A 08 00 00 CA 15 8A 16 0A 2F 40 00 00")},
        {":020000000628D0", ByteText("3A 08 00 00 9C 15 8A 16 0A 2F 40 28 06")},
        {":080008008A01572883018501DC", ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85")},
        {":10001000860187018801890197019D0100308C00CC",
         ByteText("3A 10 00 08 D4 01 86 01 87 01 88 01 89 01 97 01 9D 30 00 00 8C")},
        {":022080006828CE", ByteText("3A 08 10 40 5E 28 68 3F FF 3F FF 3F FF")},
        {":02400E00323F3F", std::nullopt},
        {":00000001FF", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.record);
        EXPECT_EQ(FrameForRecord(row.record), row.frame);
    }
}

// The embedded image with `serial` patched in, as frames, plus the words it puts where.
struct PreparedImage {
    std::vector<std::string> frames;
    std::vector<std::pair<unsigned, std::uint16_t>> words;  // word address, value
};

PreparedImage Prepare(std::string_view serial) {
    FirmwareImage image = Image_Build();
    EXPECT_EQ(Serial_Patch(image, serial), PatchResult::Replaced);
    PreparedImage prepared;
    for (const std::string& line : image) {
        if (line.empty() || line[0] != ':') {
            continue;
        }
        if (const auto frame = FrameForRecord(line)) {
            prepared.frames.push_back(*frame);
            const auto n = static_cast<std::uint8_t>((*frame)[1]);
            const unsigned address = (static_cast<std::uint8_t>((*frame)[2]) << 8) |
                                     static_cast<std::uint8_t>((*frame)[3]);
            for (unsigned i = 0; i < n / 2u; ++i) {
                const auto hi = static_cast<std::uint8_t>((*frame)[5 + 2 * i]);
                const auto lo = static_cast<std::uint8_t>((*frame)[6 + 2 * i]);
                prepared.words.emplace_back(address + i, static_cast<std::uint16_t>(hi << 8 | lo));
            }
        }
    }
    return prepared;
}

// The simulated device and the scripted host on one in-memory line, for a test or a row.
struct Rig {
    Rig(const PreviousFirmware& firmware, std::int16_t port)
        : device(clock, firmware), host(clock, link, port) {
        link.Attach(port, device);
    }

    FakeClock clock;
    SimulatedQ218 device;
    InMemoryLink link;
    ScriptedHost host;
};

class FullDownload : public ::testing::Test, protected Rig {
protected:
    FullDownload()
        : Rig(PreviousFirmware{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"}, 2) {}
};

TEST_F(FullDownload, DeviceReportsTheNewRevisionAndTheSerialTheFramesCarried) {
    const PreparedImage image = Prepare("246810");
    // Every record less configuration and end.
    ASSERT_EQ(image.frames.size(), test::BlocksOfUpdate(test::ReadImageInput()).size());
    std::vector<std::uint16_t> bootloader;
    for (unsigned a = 0x1F40; a <= 0x1FFF; ++a) {
        bootloader.push_back(device.Word(a));
    }
    const std::uint16_t config = device.Word(0x2007);

    ASSERT_EQ(host.Identify(), "123456 Q218 R04.5 2021-11-02 \r");
    const HostResult run = host.Download(image.frames);
    ASSERT_TRUE(run.finished) << run.failure;
    EXPECT_EQ(run.bels, 0);

    EXPECT_EQ(host.Identify(), test::InputTag().Identification("246810"));
    EXPECT_FALSE(device.IsBricked());
    EXPECT_EQ(device.RefusedWords(), 0);
    // The address record and the reset vector both aim at words 0 to 3; the last one wins.
    EXPECT_EQ(device.Word(3), test::InputResetWord());
    for (const auto& [address, value] : image.words) {
        if (address > 3) {
            ASSERT_EQ(device.Word(address), value) << "word " << address;
        }
    }
    for (unsigned a = 0x1F40; a <= 0x1FFF; ++a) {
        ASSERT_EQ(device.Word(a), bootloader[a - 0x1F40]) << "bootloader word " << a;
    }
    EXPECT_EQ(device.Word(0x2007), config);  // the configuration record is never sent

    // The transcript holds each frame as sent, in order, each answered "T".
    const Transcript frames = device.Frames();
    ASSERT_EQ(frames.size(), image.frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        ASSERT_EQ(frames[k].bytes, image.frames[k]) << "frame " << k;
        ASSERT_EQ(frames[k].frame, static_cast<int>(k));
    }
}

TEST_F(FullDownload, TranscriptShowsTheExchangeInOrder) {
    const PreparedImage image = Prepare("123456");
    const std::vector<std::string> two(image.frames.begin(), image.frames.begin() + 2);
    device.NoiseBeforeEnq(std::string("\xFF\x00", 2));
    ASSERT_TRUE(host.Download(two).finished);
    link.SetPortOpen(true);
    link.Output("x\r");

    std::vector<std::pair<Direction, EntryKind>> expected = {
        {Direction::ToDevice, EntryKind::ResetCommand}, {Direction::FromDevice, EntryKind::Noise},
        {Direction::FromDevice, EntryKind::Enq},        {Direction::ToDevice, EntryKind::Ack},
        {Direction::FromDevice, EntryKind::Handshake},  {Direction::FromDevice, EntryKind::Ready},
    };
    // Each frame sent, and the "T" that answers it.
    for (std::size_t k = 0; k < two.size(); ++k) {
        expected.emplace_back(Direction::ToDevice, EntryKind::Frame);
        expected.emplace_back(Direction::FromDevice, EntryKind::FrameReply);
    }
    expected.emplace_back(Direction::ToDevice, EntryKind::End);
    expected.emplace_back(Direction::ToDevice, EntryKind::Unexpected);
    const Transcript& t = device.Transcript();
    ASSERT_EQ(t.size(), expected.size()) << Describe(t);
    for (std::size_t i = 0; i < t.size(); ++i) {
        SCOPED_TRACE(Describe(t[i]));
        EXPECT_EQ(t[i].direction, expected[i].first);
        EXPECT_EQ(t[i].kind, expected[i].second);
    }
    EXPECT_EQ(t[0].bytes, "977\r");
    EXPECT_EQ(t[1].bytes, std::string("\xFF\x00", 2));
    EXPECT_EQ(t[6].bytes, two[0]);
    EXPECT_EQ(t[7].frame, 0);
    EXPECT_EQ(t[7].bytes, "T");
    EXPECT_EQ(t[8].frame, 1);
    EXPECT_EQ(t[10].bytes, ":S");
    EXPECT_EQ(t[11].bytes, "x\r");  // the application got a stray byte: logged, ignored
}

// Each fault call, seen by a host that follows the wire table.
TEST_F(FullDownload, FaultsReachTheHostAsTheyShould) {
    const PreparedImage image = Prepare("123456");
    const std::vector<std::string> frames(image.frames.begin(), image.frames.begin() + 6);
    struct Row {
        const char* name;
        void (*inject)(SimulatedQ218&);
        bool finished;
        std::string failure;
        int bels;
    };
    const Row rows[] = {
        {"BEL once", [](SimulatedQ218& d) { d.BelAfterFrame(2); }, true, "", 1},
        {"BEL three times", [](SimulatedQ218& d) { d.BelAfterFrame(2, 3); }, true, "", 3},
        {"corrupted byte", [](SimulatedQ218& d) { d.CorruptByteInFrame(4); }, true, "", 1},
        {"lower-case t", [](SimulatedQ218& d) { d.ReplyAfterFrame(3, 't'); }, false, "reply t", 0},
        {"garbage", [](SimulatedQ218& d) { d.ReplyAfterFrame(0, "\x80?"); }, false, "reply \x80",
         0},
        {"silent from frame 5", [](SimulatedQ218& d) { d.SilentFromFrame(5); }, false, "no reply",
         0},
        {"unplugged at frame 1", [](SimulatedQ218& d) { d.UnplugAtFrame(1); }, false, "line lost",
         0},
        {"unplugged after frame 1's reply", [](SimulatedQ218& d) { d.UnplugAfterReplyToFrame(1); },
         false, "line lost", 0},
        {"silent before ENQ", [](SimulatedQ218& d) { d.SilentBeforeEnq(); }, false, "no ENQ", 0},
        {"noise before ENQ", [](SimulatedQ218& d) { d.NoiseBeforeEnq("T\x07xyz"); }, true, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(PreviousFirmware{}, 1);
        row.inject(rig.device);
        const HostResult run = rig.host.Download(frames);
        EXPECT_EQ(run.finished, row.finished) << Describe(rig.device.Transcript());
        EXPECT_EQ(run.failure, row.failure);
        EXPECT_EQ(run.bels, row.bels);
        if (run.finished) {
            // Every frame reached memory in the end, resends included.
            EXPECT_EQ(rig.device.Word(4), image.words[8].second);
            EXPECT_EQ(rig.device.FramesReceived(), static_cast<int>(frames.size()) + row.bels);
        }
    }
}

TEST_F(FullDownload, BelAndCorruptionAreResentByteForByteAndNothingBadIsWritten) {
    const PreparedImage image = Prepare("123456");
    const std::vector<std::string> frames(image.frames.begin() + 2, image.frames.begin() + 5);
    device.BelAfterFrame(0, 2);
    device.CorruptByteInFrame(3);
    const HostResult run = host.Download(frames);
    ASSERT_TRUE(run.finished) << run.failure;
    const Transcript got = device.Frames();
    ASSERT_EQ(got.size(), 6u) << Describe(device.Transcript());
    EXPECT_EQ(got[0].bytes, frames[0]);
    EXPECT_EQ(got[1].bytes, frames[0]);
    EXPECT_EQ(got[2].bytes, frames[0]);
    EXPECT_EQ(got[3].bytes.substr(0, 5), frames[1].substr(0, 5));  // header intact...
    EXPECT_NE(got[3].bytes, frames[1]);  // ...a data byte corrupted on the line
    EXPECT_EQ(got[4].bytes, frames[1]);
    EXPECT_EQ(got[5].bytes, frames[2]);
    EXPECT_EQ(device.Word(0x0004), image.words[8].second);
}

TEST_F(FullDownload, UnplugMidwayLeavesOnlyTheBootloaderUntilResetByHand) {
    const PreparedImage image = Prepare("123456");
    device.UnplugAtFrame(100);
    const HostResult cut = host.Download(image.frames);
    EXPECT_EQ(cut.failure, "line lost");
    EXPECT_TRUE(link.LineLost());
    EXPECT_EQ(device.Transcript().back().kind, EntryKind::Lost);

    // Powered up again with a half-written program: the bootloader answers alone and
    // ignores "977"; the technician resets it by hand and the update starts over.
    device.Replug();
    EXPECT_FALSE(device.IsBricked());
    EXPECT_EQ(host.Identify(), "Q218");
    host.OnWaitForEnq([this] { device.ResetByHand(); });
    const HostResult again = host.Download(image.frames);
    ASSERT_TRUE(again.finished) << again.failure;
    EXPECT_EQ(host.Identify(), test::InputTag().Identification("123456"));
}

}  // namespace
}  // namespace q218::sim
