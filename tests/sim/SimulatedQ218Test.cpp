// The simulated Q218 on its own: the host side is spelled out byte by byte from the wire
// tables of the identification query and the bootloader protocol.

#include "sim/SimulatedQ218.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/FakeClock.h"
#include "support/Bytes.h"

namespace q218::sim {
namespace {

using namespace std::chrono_literals;
using test::ByteText;

// Restated here on purpose: a changed constant in the device must fail these tests.
const std::string kEnq = "\x05";
const std::string kAck = "\x06";
const std::string kBel = "\x07";

// A device on its own clock, for a test or for one row of a table.
struct Board {
    explicit Board(const PreviousFirmware& firmware) : device(clock, firmware) {}

    // Host writes `bytes` and reads everything readable at the same instant.
    std::string Exchange(std::string_view bytes) {
        device.Receive(bytes);
        return device.TakeReadable();
    }

    FakeClock clock;
    SimulatedQ218 device;
};

class DeviceTest : public ::testing::Test, protected Board {
protected:
    DeviceTest()
        : Board(PreviousFirmware{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"}) {}

    // "977", ENQ, ACK, the two handshake characters and "T": the bootloader waits for frames.
    void EnterBootloader() {
        ASSERT_EQ(Exchange("977\r"), kEnq);
        ASSERT_EQ(Exchange(kAck), "B2T");
    }
};

TEST(DeviceIdentification, ReplyComesFromTheTableInProgramMemory) {
    struct Row {
        const char* name;
        PreviousFirmware firmware;
        std::string reply;
    };
    const std::vector<Row> rows = {
        {"serial number",
         {.serial = "123456", .revision = "R04.5", .date = "2021-11-02"},
         "123456 Q218 R04.5 2021-11-02 \r"},
        {"placeholder",
         {.serial = "999999", .revision = "R04.5", .date = "2021-11-02"},
         "999999 Q218 R04.5 2021-11-02 \r"},
        {"no serial digits",
         {.serial = "", .revision = "R03.9", .date = "2020-01-31"},
         " Q218 R03.9 2020-01-31 \r"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Board board(row.firmware);
        EXPECT_EQ(board.Exchange("990\r"), row.reply);
        EXPECT_EQ(board.device.IdentificationText(), row.reply);
        // Each character is a RETLW (0x34xx) after the computed jump at 0x1F00.
        EXPECT_EQ(board.device.Word(0x1F00), 0x0782);
        EXPECT_EQ(board.device.Word(0x1F01), 0x3400 | static_cast<unsigned char>(row.reply[0]));
    }
}

TEST_F(DeviceTest, PreviousFirmwareJumpsToTheBootloaderFromTheResetVector) {
    EXPECT_EQ(device.Word(0), 0x158A);
    EXPECT_EQ(device.Word(1), 0x160A);
    EXPECT_EQ(device.Word(2), 0x2F40);
    EXPECT_EQ(device.Word(3) & 0x3800, 0x2800);  // a GOTO into the application
    EXPECT_FALSE(device.IsBricked());
    for (unsigned a = 0x1F40; a <= 0x1FFF; ++a) {
        ASSERT_NE(device.Word(a), 0x3FFF) << "bootloader word " << a;
    }
    EXPECT_EQ(device.Word(0x1F20), 0x3FFF);
}

TEST_F(DeviceTest, HandshakeThenFramesAreWrittenHighByteFirst) {
    EXPECT_EQ(Exchange("977\r"), kEnq);
    EXPECT_TRUE(device.InBootloader());
    EXPECT_EQ(Exchange(kAck), "B2T");
    // Words 4 to 7 (byte address 0x0008): 0x018A 0x2857 0x0183 0x0185.
    EXPECT_EQ(Exchange(ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85")), "T");
    EXPECT_EQ(device.Word(4), 0x018A);
    EXPECT_EQ(device.Word(5), 0x2857);
    EXPECT_EQ(device.Word(6), 0x0183);
    EXPECT_EQ(device.Word(7), 0x0185);
    // One word and three erased fill words at 0x1040.
    EXPECT_EQ(Exchange(ByteText("3A 08 10 40 5E 28 68 3F FF 3F FF 3F FF")), "T");
    EXPECT_EQ(device.Word(0x1040), 0x2868);
    EXPECT_EQ(device.Word(0x1041), 0x3FFF);
    EXPECT_EQ(device.FramesReceived(), 2);
}

TEST_F(DeviceTest, MalformedFrameIsAnsweredBelAndNotWritten) {
    struct Row {
        const char* name;
        std::string frame;
        unsigned address;
    };
    const std::vector<Row> rows = {
        {"checksum one off", ByteText("3A 08 00 04 E1 01 8A 28 57 01 83 01 85"), 4},
        {"data byte changed", ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 86"), 4},
        // 10 data bytes: not a whole number of four-word groups. Checksum is right.
        {"length not a multiple of 8", ByteText("3A 0A 00 20 C7 00 01 00 02 00 03 00 04 00 05"),
         0x20},
        // 56 data bytes: more than the bootloader's 48-byte buffer. Checksum is right.
        {"longer than 48", ByteText("3A 38 00 40 88") + std::string(56, '\0'), 0x40},
    };
    EnterBootloader();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint16_t before = device.Word(row.address);
        EXPECT_EQ(Exchange(row.frame), kBel);
        EXPECT_EQ(device.Word(row.address), before);
    }
    // The bootloader still takes a good frame afterwards.
    EXPECT_EQ(Exchange(ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85")), "T");
}

TEST_F(DeviceTest, BootloaderRefusesToOverwriteItself) {
    EnterBootloader();
    const std::uint16_t at1F40 = device.Word(0x1F40);
    const std::uint16_t at1F43 = device.Word(0x1F43);
    // Four words at 0x1F40: "T", nothing written.
    EXPECT_EQ(Exchange(ByteText("3A 08 1F 40 99 00 00 00 00 00 00 00 00")), "T");
    EXPECT_EQ(device.Word(0x1F40), at1F40);
    EXPECT_EQ(device.RefusedWords(), 4);
    // Words 0x1F3C to 0x1F43: the four below the bootloader are written, the rest refused.
    EXPECT_EQ(Exchange(ByteText("3A 10 1F 3C BB 34 41 34 42 34 43 34 44 00 00 00 00 00 00 00 00")),
              "T");
    EXPECT_EQ(device.Word(0x1F3C), 0x3441);
    EXPECT_EQ(device.Word(0x1F3F), 0x3444);
    EXPECT_EQ(device.Word(0x1F40), at1F40);
    EXPECT_EQ(device.Word(0x1F43), at1F43);
    EXPECT_EQ(device.RefusedWords(), 8);
    EXPECT_FALSE(device.IsBricked());
}

TEST_F(DeviceTest, EndOfTransferRestartsTheApplicationFromMemory) {
    EnterBootloader();
    // Serial digits 6, 5, 4, 3, 2, 1 at 0x1F01 to 0x1F06 and the space at 0x1F07.
    EXPECT_EQ(Exchange(ByteText("3A 10 1F 00 87 07 82 34 36 34 35 34 34 34 33 34 32 34 31 34 20")),
              "T");
    EXPECT_EQ(Exchange(":S"), "");
    EXPECT_FALSE(device.InBootloader());
    EXPECT_EQ(Exchange("990\r"), "654321 Q218 R04.5 2021-11-02 \r");
}

TEST_F(DeviceTest, OverwrittenResetVectorBricksTheDevice) {
    EnterBootloader();
    // Words 0 to 3 all NOP: the jump to 0x1F40 is gone.
    EXPECT_EQ(Exchange(ByteText("3A 08 00 00 F8 00 00 00 00 00 00 00 00")), "T");
    EXPECT_TRUE(device.IsBricked());
    EXPECT_EQ(Exchange(":S"), "");
    EXPECT_EQ(Exchange("990\r"), "");
    device.ResetByHand();
    EXPECT_EQ(device.TakeReadable(), "");
}

TEST_F(DeviceTest, BrokenApplicationLeavesOnlyTheBootloader) {
    device.BreakApplication();
    EXPECT_EQ(Exchange("990\r"), "Q218");
    EXPECT_EQ(Exchange("977\r"), "");
    EXPECT_FALSE(device.IsBricked());
    device.ResetByHand();
    EXPECT_EQ(device.TakeReadable(), kEnq);
    EXPECT_EQ(Exchange(kAck), "B2T");
}

TEST_F(DeviceTest, FixedIdentificationReplyIsSentExactly) {
    struct Row {
        const char* name;
        std::string reply;
    };
    const std::vector<Row> rows = {
        {"short form", "Q218"},
        {"short form with more", "Q218 R04.5 "},
        {"six fields", "123456 Q218 R04.5 2021-11-02 X Y "},
        {"missing fields", "123456 Q218 "},
        {"no trailing space", "123456 Q218 R04.5 2021-11-02"},
        {"another model", "123456 Q219 R04.5 2021-11-02 \r"},
        {"lower-case model", "123456 q218 R04.5 2021-11-02 \r"},
        {"empty", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        device.IdentificationReply(row.reply);
        EXPECT_EQ(Exchange("990\r"), row.reply);
        clock.Advance(10s);
        EXPECT_EQ(device.TakeReadable(), "");  // nothing else follows
    }
    // The fixed reply also stands in for the bootloader's short answer.
    device.IdentificationReply("Q218 X");
    device.BreakApplication();
    EXPECT_EQ(Exchange("990\r"), "Q218 X");
}

TEST_F(DeviceTest, ReplyDelayHoldsBackEveryReply) {
    device.ReplyDelay(2500ms);
    EXPECT_EQ(Exchange("990\r"), "");
    clock.Advance(2499ms);
    EXPECT_EQ(device.TakeReadable(), "");
    clock.Advance(1ms);
    EXPECT_EQ(device.TakeReadable(), "123456 Q218 R04.5 2021-11-02 \r");
    EXPECT_EQ(Exchange("977\r"), "");
    clock.Advance(2500ms);
    EXPECT_EQ(device.TakeReadable(), kEnq);
}

TEST_F(DeviceTest, PacedLineDeliversOneByteEveryTenBitTimes) {
    const std::chrono::nanoseconds byte = std::chrono::nanoseconds(1'000'000'000 / 960);
    device.Paced(true);
    const auto start = clock.Now();
    device.Receive("990\r");
    // The four query bytes take 4 byte times to arrive; each reply byte one more.
    clock.Set(start + 5 * byte - 1ns);
    EXPECT_EQ(device.TakeReadable(), "");
    clock.Set(start + 5 * byte);
    EXPECT_EQ(device.TakeReadable(), "1");
    clock.Set(start + 10 * byte);
    EXPECT_EQ(device.TakeReadable(), "23456");
    clock.Set(start + 34 * byte);
    EXPECT_EQ(device.TakeReadable(), " Q218 R04.5 2021-11-02 \r");
}

TEST_F(DeviceTest, PacedFrameIsAnsweredAfterItsWordsAreWritten) {
    const std::chrono::nanoseconds byte = std::chrono::nanoseconds(1'000'000'000 / 960);
    EnterBootloader();
    device.Paced(true);
    device.WordWriteTime(2ms);
    const auto start = clock.Now();
    // 13 bytes on the wire, four words written, then "T" takes one byte time.
    device.Receive(ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85"));
    const auto due = start + 13 * byte + 4 * 2ms + byte;
    clock.Set(due - 1ns);
    EXPECT_EQ(device.TakeReadable(), "");
    clock.Set(due);
    EXPECT_EQ(device.TakeReadable(), "T");
}

TEST_F(DeviceTest, HandshakeCharactersAndNoiseAroundEnqAreConfigurable) {
    device.HandshakeCharacters("TT");
    device.NoiseBeforeEnq("ab");
    device.NoiseAfterEnq("c");
    EXPECT_EQ(Exchange("977\r"), "ab" + kEnq + "c");
    EXPECT_EQ(Exchange(kAck), "TTT");
}

TEST_F(DeviceTest, UnexpectedBytesAreLoggedAndIgnored) {
    struct Row {
        const char* name;
        std::string before;  // brings the device into the state
        std::string stray;
    };
    const std::vector<Row> rows = {
        {"unknown command", "", "123\r"},
        {"before ACK", "977\r", "990\r"},
        {"between frames", "977\r\x06", "xy"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Board board(PreviousFirmware{});
        // Only the state the setup bytes leave matters, not what the device answers them.
        static_cast<void>(board.Exchange(row.before));
        EXPECT_EQ(board.Exchange(row.stray), "");
        const Transcript& transcript = board.device.Transcript();
        ASSERT_FALSE(transcript.empty());
        EXPECT_EQ(transcript.back().kind, EntryKind::Unexpected);
        EXPECT_EQ(transcript.back().bytes, row.stray);
    }
}

}  // namespace
}  // namespace q218::sim
