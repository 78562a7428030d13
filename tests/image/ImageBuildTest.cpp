// The embedded image as Image_Build yields it: the shape the download and the serial patch
// rely on, and the words the device will hold.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "HexLines.h"
#include "image/FirmwareImage.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

using test::Decode;
using test::DecodedRecord;

const FirmwareImage& Built() {
    static const FirmwareImage image = Image_Build();
    return image;
}

TEST(ImageBuild, HasTheTagThenTheAddressRecordThenDataThenTheEndRecord) {
    const FirmwareImage& image = Built();
    const std::vector<std::string> input = test::ReadImageInput();
    ASSERT_EQ(image.size(), input.size());
    EXPECT_EQ(image[0], input[0]);
    EXPECT_EQ(image[0].rfind(".DORVANE_", 0), 0u);
    EXPECT_EQ(image[1], ":020000040000FA");
    EXPECT_EQ(image.back(), ":00000001FF");
    for (std::size_t i = 2; i + 1 < image.size(); ++i) {
        SCOPED_TRACE(i);
        const auto record = Decode(image[i]);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->type, 0u);
    }
}

TEST(ImageBuild, EveryRecordHasAValidChecksum) {
    const FirmwareImage& image = Built();
    for (std::size_t i = 1; i < image.size(); ++i) {
        SCOPED_TRACE(image[i]);
        const auto record = Decode(image[i]);
        ASSERT_TRUE(record) << "not a well-formed upper-case record";
        EXPECT_EQ(record->byteSum % 256, 0u);
    }
}

TEST(ImageBuild, QuotedRecordsStandVerbatimAtTheirIndexes) {
    struct Row {
        const char* name;
        std::size_t index;
        const char* line;
    };
    const Row rows[] = {
        {"reset vector GOTO 0x006", 2, ":020000000628D0"},
        {"interrupt vector words 4 to 7", 3, ":080008008A01572883018501DC"},
        {"first full record", 4, ":10001000860187018801890197019D0100308C00CC"},
        {"2-byte record ending the 0x2000 region", 331, ":022080006828CE"},
        {"serial placeholder 000000", 364, ":103E0000820730343034303430343034303420347D"},
        {"configuration word 0x3F32", 368, ":02400E00323F3F"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Built()[row.index], row.line);
    }
}

TEST(ImageBuild, RegionsHoldTheirRecordsContiguously) {
    // Byte addresses inclusive, image indexes inclusive, as the device's memory map lays out
    // the payload.
    struct Row {
        const char* name;
        unsigned firstByte, lastByte;
        std::size_t firstIndex, lastIndex;
    };
    const Row rows[] = {
        {"reset vector", 0x0000, 0x0001, 2, 2},       {"vector and code", 0x0008, 0x03C9, 3, 63},
        {"code 0x0400", 0x0400, 0x05EF, 64, 94},      {"code 0x0600", 0x0600, 0x0D53, 95, 212},
        {"code 0x0E00", 0x0E00, 0x0FC3, 213, 241},    {"code 0x1000", 0x1000, 0x11ED, 242, 272},
        {"code 0x1200", 0x1200, 0x1517, 273, 322},    {"code 0x2000", 0x2000, 0x2081, 323, 331},
        {"constant table", 0x3000, 0x31FF, 332, 363}, {"id table", 0x3E00, 0x3E3D, 364, 367},
        {"configuration", 0x400E, 0x400F, 368, 368},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        unsigned next = row.firstByte;
        for (std::size_t i = row.firstIndex; i <= row.lastIndex; ++i) {
            const auto record = Decode(Built()[i]);
            ASSERT_TRUE(record);
            EXPECT_EQ(record->address, next) << "index " << i;
            next = record->address + record->count;
        }
        EXPECT_EQ(next, row.lastByte + 1);
    }
}

TEST(ImageBuild, RecordSizesEvenAlignedAndWithinOneBlock) {
    std::map<unsigned, int> sizes;
    unsigned dataBytes = 0;
    for (std::size_t i = 2; i + 1 < Built().size(); ++i) {
        SCOPED_TRACE(Built()[i]);
        const auto record = Decode(Built()[i]);
        ASSERT_TRUE(record);
        ++sizes[record->count];
        dataBytes += record->count;
        EXPECT_EQ(record->address % 2, 0u);
        EXPECT_EQ(record->address / 16, (record->address + record->count - 1) / 16);
        if (record->address == 0) {
            EXPECT_EQ(record->count, 2u);
        }
    }
    const std::map<unsigned, int> expected{{16, 357}, {14, 2}, {10, 1}, {8, 2}, {4, 2}, {2, 3}};
    EXPECT_EQ(sizes, expected);
    EXPECT_EQ(dataBytes, 5780u);
}

TEST(ImageBuild, LineLengthsAreTheRecordSizesAndTheTag) {
    std::set<std::size_t> lengths;
    for (const std::string& line : Built()) {
        lengths.insert(line.size());
    }
    EXPECT_EQ(lengths, (std::set<std::size_t>{11, 15, 19, 27, 30, 31, 39, 43}));
}

TEST(ImageBuild, ProgramWordsAreFourteenBitAndLeaveTheBootloaderAreaFree) {
    const std::map<unsigned, unsigned> words = test::WordsOf(Built());
    EXPECT_EQ(words.size(), 2890u);  // 2,889 program words and the configuration word
    EXPECT_EQ(words.at(0x0000), 0x2806u);
    EXPECT_EQ(words.at(0x2007), 0x3F32u);
    for (const auto& [address, word] : words) {
        SCOPED_TRACE(address);
        EXPECT_LE(word, 0x3FFFu);
        EXPECT_FALSE(address >= 0x1F1F && address <= 0x1FFF);
    }
}

TEST(ImageBuild, TablesAreComputedJumpsToRetlw) {
    const std::map<unsigned, unsigned> words = test::WordsOf(Built());
    EXPECT_EQ(words.at(0x1800), 0x0782u);  // ADDWF PCL,F
    for (unsigned w = 0x1801; w <= 0x18FF; ++w) {
        SCOPED_TRACE(w);
        EXPECT_EQ(words.at(w) >> 8, 0x34u);  // RETLW k
    }
    EXPECT_EQ(words.at(0x1F00), 0x0782u);
    const std::string text = test::InputTag().Identification("000000");
    for (unsigned i = 0; i < text.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(words.at(0x1F01 + i), 0x3400u | static_cast<unsigned char>(text[i]));
    }
}

TEST(ImageBuild, TagAndSerialRecordAreFoundOnceAndEachBuildIsFresh) {
    FirmwareImage image = Image_Build();
    int tags = 0;
    int serials = 0;
    for (const std::string& line : image) {
        tags += line.starts_with(".DORVANE") ? 1 : 0;
        serials += line.starts_with(":103E00008207") ? 1 : 0;
    }
    EXPECT_EQ(tags, 1);
    EXPECT_EQ(serials, 1);

    image[364] = "changed";
    image.pop_back();
    EXPECT_EQ(Image_Build(), Built());  // a build discards whatever an earlier list went through
}

}  // namespace
}  // namespace q218
