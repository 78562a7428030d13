// The embedded image as Image_Build yields it: the image input line for line, in the shape the
// download and the serial patch rely on, whatever payload the input holds.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "HexLines.h"
#include "image/FirmwareImage.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

using test::Decode;

const FirmwareImage& Built() {
    static const FirmwareImage image = Image_Build();
    return image;
}

TEST(ImageBuild, HasTheTagThenTheAddressRecordThenDataThenTheEndRecord) {
    const FirmwareImage& image = Built();
    const std::vector<std::string> input = test::ReadImageInput();
    EXPECT_EQ(image.size(), 370u);
    ASSERT_EQ(image, input);
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

// The layout rules a replacement payload keeps, over whatever records the input holds: even
// counts of 2 to 16 bytes at even addresses, each within one 16-byte block, ascending without
// overlap, a one-word record at address 0000, and so every word whole in one record.
TEST(ImageBuild, DataRecordsAscendWithoutOverlapEachWithinOneBlock) {
    unsigned next = 0;  // one past the previous record's last byte
    unsigned dataBytes = 0;
    for (std::size_t i = 2; i + 1 < Built().size(); ++i) {
        SCOPED_TRACE(Built()[i]);
        const auto record = Decode(Built()[i]);
        ASSERT_TRUE(record);
        EXPECT_GE(record->address, next);
        EXPECT_EQ(record->address % 2, 0u);
        EXPECT_EQ(record->count % 2, 0u);
        EXPECT_TRUE(record->count >= 2 && record->count <= 16);
        EXPECT_EQ(record->address / 16, (record->address + record->count - 1) / 16);
        if (record->address == 0) {
            EXPECT_EQ(record->count, 2u);
        }
        next = record->address + record->count;
        dataBytes += record->count;
    }
    EXPECT_EQ(test::WordsOf(Built()).size() * 2, dataBytes);
}

TEST(ImageBuild, ProgramWordsAreFourteenBitAndLeaveTheBootloaderAreaFree) {
    for (const auto& [address, word] : test::WordsOf(Built())) {
        SCOPED_TRACE(address);
        EXPECT_LE(word, 0x3FFFu);
        EXPECT_FALSE(address >= 0x1F1F && address <= 0x1FFF);
    }
}

// The device answers the identification query from the table at word 0x1F00: a computed jump,
// then one RETLW per character of serial, model, revision and date; the serial record is its
// first eight words.
TEST(ImageBuild, IdentificationTableSpellsThePlaceholderSerialAndTheTag) {
    const std::map<unsigned, unsigned> words = test::WordsOf(Built());
    EXPECT_EQ(words.at(0x1F00), 0x0782u);  // ADDWF PCL,F
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
    EXPECT_EQ(image[test::SerialIndexOf(image)], ":103E0000820730343034303430343034303420347D");

    image[1] = "changed";
    image.pop_back();
    EXPECT_EQ(Image_Build(), Built());  // a build discards whatever an earlier list went through
}

}  // namespace
}  // namespace q218
