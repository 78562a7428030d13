#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "download/RecordSend.h"
#include "sim/FakeClock.h"
#include "support/Bytes.h"
#include "support/FakeView.h"

namespace q218 {
namespace {

using test::Bytes;
using test::Hex;

// A line and what becomes of it: the frame it is sent as, or the outcome that sends nothing.
struct FrameRow {
    FrameRow(const char* rowName, std::string rowLine, const char* sentFrame)
        : name(rowName), line(std::move(rowLine)), outcome(RecordOutcome::Sent), frame(sentFrame) {}
    FrameRow(const char* rowName, std::string rowLine, RecordOutcome notSent)
        : name(rowName), line(std::move(rowLine)), outcome(notSent), frame("") {}

    const char* name;
    std::string line;
    RecordOutcome outcome;
    const char* frame;  // empty when nothing is sent
};

void ExpectFrames(const std::vector<FrameRow>& rows) {
    for (const FrameRow& row : rows) {
        SCOPED_TRACE(row.name);
        const RecordFrame frame = Record_Frame(row.line);
        EXPECT_EQ(frame.outcome, row.outcome);
        EXPECT_EQ(Hex(frame.bytes), Hex(Bytes(row.frame)));
    }
}

TEST(RecordFrame, LinesOfTheEmbeddedImageGiveTheBootloaderFrames) {
    ExpectFrames({
        {"address record goes through the goto check", ":020000040000FA",
         "3A 08 00 00 CA 15 8A 16 0A 2F 40 00 00"},
        {"reset vector moves to word 3", ":020000000628D0",
         "3A 08 00 00 9C 15 8A 16 0A 2F 40 28 06"},
        {"interrupt vector, 8 bytes, no fill", ":080008008A01572883018501DC",
         "3A 08 00 04 E0 01 8A 28 57 01 83 01 85"},
        {"full 16-byte record", ":10001000860187018801890197019D0100308C00CC",
         "3A 10 00 08 D4 01 86 01 87 01 88 01 89 01 97 01 9D 30 00 00 8C"},
        {"2 bytes padded with three erased words", ":022080006828CE",
         "3A 08 10 40 5E 28 68 3F FF 3F FF 3F FF"},
        {"configuration word is skipped", ":02400E00323F3F", RecordOutcome::Skipped},
        {"end-of-file record", ":00000001FF", RecordOutcome::End},
    });
}

TEST(RecordFrame, WordAddressesAndChecksumEdges) {
    ExpectFrames({
        {"odd high byte adds 128 to the word's low byte", ":020100003412B7",
         "3A 08 00 80 78 12 34 3F FF 3F FF 3F FF"},
        {"odd high byte with a carry into the low byte", ":0403F800AABBCCDD00",
         "3A 08 01 FC 71 BB AA DD CC 3F FF 3F FF"},
        {"checksum 0 when the sum is a multiple of 256", ":08001000F00000000000000000",
         "3A 08 00 08 00 00 F0 00 00 00 00 00 00"},
        {"last word below 0x2000 is sent", ":023FFE00FF3F00",
         "3A 08 1F FF E2 3F FF 3F FF 3F FF 3F FF"},
        {"byte address 0x4000 is skipped", ":024000000000BE", RecordOutcome::Skipped},
        {"end-of-file type above 0x4000 is skipped before its type", ":00400001BF",
         RecordOutcome::Skipped},
        {"type not even hex is never read above 0x4000", ":02400EZZ323F", RecordOutcome::Skipped},
        {"count not hex above 0x4000", ":Z2400E00323F3F", RecordOutcome::Skipped},
        {"address low byte not hex above 0x4000", ":02400G00323F3F", RecordOutcome::Skipped},
        {"record checksum is never read", ":020100003412",
         "3A 08 00 80 78 12 34 3F FF 3F FF 3F FF"},
        {"zero-count data record is an empty frame", ":0000100000", "3A 00 00 08 F8"},
    });
}

TEST(RecordFrame, ResetVectorRecordMustHoldExactlyOneWord) {
    ExpectFrames({
        {"16 bytes at address 0 rejected at its first word",
         ":1000000006280000000000000000000000000000C2", RecordOutcome::Rejected},
        {"4 bytes at address 0", ":0400000006280000CE", RecordOutcome::Rejected},
        {"rejected as soon as the first word is read", ":10000000062800", RecordOutcome::Rejected},
        // Byte address 1 halves to word address 0 as well.
        {"odd byte address 1 is word 0", ":0400010006280000CD", RecordOutcome::Rejected},
        {"odd count at address 0", ":0300000006280000CF", RecordOutcome::Rejected},
        {"count 50 at address 0", ":32000000" + std::string(100, '1'), RecordOutcome::Rejected},
    });
}

TEST(RecordFrame, FillsWithErasedWordsToAMultipleOfEight) {
    struct FillRow {
        int count;  // data bytes, named in the trace
        int fillBytes;
    };
    const FillRow rows[] = {{2, 6}, {4, 4}, {8, 0}, {10, 6}, {14, 2}, {16, 0}};
    for (const FillRow& row : rows) {
        SCOPED_TRACE(std::to_string(row.count) + " bytes");
        char header[16];
        std::snprintf(header, sizeof header, ":%02X002000", row.count);
        // Data bytes 01 02 03 ...: word k holds low 2k+1, high 2k+2.
        std::string line = header;
        for (int i = 1; i <= row.count; ++i) {
            char byte[9];
            std::snprintf(byte, sizeof byte, "%02X", i);
            line += byte;
        }
        line += "00";
        const RecordFrame frame = Record_Frame(line);
        ASSERT_EQ(frame.outcome, RecordOutcome::Sent);
        const int n = row.count + row.fillBytes;
        ASSERT_EQ(frame.bytes.size(), static_cast<std::size_t>(5 + n));
        EXPECT_EQ(frame.bytes[1], n);
        for (int k = 0; k < row.count / 2; ++k) {
            EXPECT_EQ(frame.bytes[5 + 2 * k], 2 * k + 2) << "high byte of word " << k;
            EXPECT_EQ(frame.bytes[5 + 2 * k + 1], 2 * k + 1) << "low byte of word " << k;
        }
        for (int i = 5 + row.count; i < 5 + n; i += 2) {
            EXPECT_EQ(frame.bytes[i], 0x3F);
            EXPECT_EQ(frame.bytes[i + 1], 0xFF);
        }
        const int sum = std::accumulate(frame.bytes.begin() + 1, frame.bytes.end(), 0);
        EXPECT_EQ(sum % 256, 0) << "bytes 1 to 4+N must add up to a multiple of 256";
    }
}

TEST(RecordFrame, LinesAFrameCannotCarryAreNeverSent) {
    const std::string fortyEightBytes = ":30002000" + std::string(96, '1') + "00";
    const std::string fiftyBytes = ":32002000" + std::string(100, '1') + "00";
    const std::string hugeCount = ":FF002000" + std::string(600, '1') + "00";
    ExpectFrames({
        {"empty line", "", RecordOutcome::Malformed},
        {"marker text", std::string(1, '\0'), RecordOutcome::Malformed},
        {"no leading colon", "020000040000FA", RecordOutcome::Malformed},
        {"colon only", ":", RecordOutcome::Malformed},
        {"half a count", ":0", RecordOutcome::Malformed},
        {"address cut short", ":02000", RecordOutcome::Malformed},
        {"type missing", ":020010", RecordOutcome::Malformed},
        {"odd count", ":03001000010203E7", RecordOutcome::Malformed},
        {"data shorter than the count", ":10001000860187", RecordOutcome::Malformed},
        {"lower-case data digit", ":02001000a628D0", RecordOutcome::Malformed},
        {"non-hex address", ":02G01000062800", RecordOutcome::Malformed},
        {"space inside a field", ":02 01000062800", RecordOutcome::Malformed},
        {"count above the frame buffer", fiftyBytes, RecordOutcome::Malformed},
        {"largest count", hugeCount, RecordOutcome::Malformed},
    });
    // 48 bytes is the largest frame: no fill, 53 bytes on the wire.
    const RecordFrame largest = Record_Frame(fortyEightBytes);
    EXPECT_EQ(largest.outcome, RecordOutcome::Sent);
    EXPECT_EQ(largest.bytes.size(), 53U);
}

// Keeps every Output call apart, so a frame written as one text would show.
class RecordingLink final : public SerialLink {
public:
    bool PortOpen() const override { return true; }
    OpenResult SetPortOpen(bool) override { return {}; }
    void SetCommPort(std::int16_t) override {}
    void SetInputLen(int) override {}
    void SetSettings(const LineSettings&) override {}
    void Output(std::string_view bytes) override { writes.emplace_back(bytes); }
    std::string Input() override { return {}; }
    int InBufferCount() const override { return 0; }
    bool LineLost() const override { return false; }

    std::vector<std::string> writes;
};

// One frame sent to that link, with the window that shows its messages.
class RecordSend : public ::testing::Test {
protected:
    sim::FakeClock clock;
    test::FakeView view{clock};
    RecordingLink link;
    LinkContext context{link, view, clock};
};

TEST_F(RecordSend, WritesTheFrameOneByteAtATime) {
    EXPECT_EQ(Record_Send(context, ":022080006828CE"), RecordOutcome::Sent);
    std::vector<std::uint8_t> wire;
    for (const std::string& write : link.writes) {
        ASSERT_EQ(write.size(), 1U);
        wire.push_back(static_cast<std::uint8_t>(write[0]));
    }
    EXPECT_EQ(Hex(wire), "3A 08 10 40 5E 28 68 3F FF 3F FF 3F FF");
    EXPECT_TRUE(view.MessageBoxes().empty());
}

TEST_F(RecordSend, RejectedResetVectorShowsTheGotoMessageAndWritesNothing) {
    EXPECT_EQ(Record_Send(context, ":0400000006280000CE"), RecordOutcome::Rejected);
    EXPECT_TRUE(link.writes.empty());
    const std::vector<std::string> expectedBoxes = {
        "This HEX file does not appear to have the correct goto statement. Please double "
        "check that the proper 'origin 4' statement has been inserted at the beginning of the "
        "C program."};
    EXPECT_EQ(view.MessageBoxes(), expectedBoxes);
}

TEST_F(RecordSend, SkippedEndAndMalformedLinesWriteNothingAndShowNothing) {
    EXPECT_EQ(Record_Send(context, ":02400E00323F3F"), RecordOutcome::Skipped);
    EXPECT_EQ(Record_Send(context, ":00000001FF"), RecordOutcome::End);
    EXPECT_EQ(Record_Send(context, ":10001000860187"), RecordOutcome::Malformed);
    EXPECT_TRUE(link.writes.empty());
    EXPECT_TRUE(view.MessageBoxes().empty());
}

}  // namespace
}  // namespace q218
