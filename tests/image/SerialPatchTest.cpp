// Serial_Patch: the six digits of Text4 written into the image as the 16-byte record at byte
// address 0x3E00 (ADDWF PCL,F, six RETLW digits, RETLW ' ').

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "HexLines.h"
#include "image/FirmwareImage.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

// Where the built image holds the serial record.
const std::size_t kSerialIndex = test::SerialIndexOf(Image_Build());

TEST(SerialPatch, WorkedRecords) {
    struct Row {
        const char* text4;
        const char* record;
    };
    const Row rows[] = {
        {"000000", ":103E0000820730343034303430343034303420347D"},
        {"123456", ":103E00008207313432343334343435343634203468"},
        {"999999", ":103E00008207393439343934393439343934203447"},
        {"1234567", ":103E00008207313432343334343435343634203468"},  // only six count
        {"123456 trailing text", ":103E00008207313432343334343435343634203468"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text4);
        FirmwareImage image = Image_Build();
        const FirmwareImage built = image;
        EXPECT_EQ(Serial_Patch(image, row.text4), PatchResult::Replaced);
        EXPECT_EQ(image[kSerialIndex], row.record);
        image[kSerialIndex] = built[kSerialIndex];
        EXPECT_EQ(image, built) << "a line other than the serial record changed";
    }
}

TEST(SerialPatch, NotSixDigitsLeavesTheImageAlone) {
    const char* const rows[] = {
        "12 456", "+12345", "-12345",  "1234.5", "12345",  "",
        "      ", "1234a6", "12345\t", "0x1234", "١٢٣٤٥٦",  // Arabic-Indic digits in UTF-8
    };
    FirmwareImage image = Image_Build();
    ASSERT_EQ(Serial_Patch(image, "123456"), PatchResult::Replaced);
    const FirmwareImage before = image;
    for (const char* text4 : rows) {
        SCOPED_TRACE(text4);
        EXPECT_EQ(Serial_Patch(image, text4), PatchResult::NotDigits);
        EXPECT_EQ(image, before);
        EXPECT_EQ(SerialRecordFor(text4), "");
    }
}

TEST(SerialPatch, RepeatedPatchesReplaceTheSameRecordAndTheLastWins) {
    FirmwareImage image = Image_Build();
    EXPECT_EQ(Serial_Patch(image, "111111"), PatchResult::Replaced);
    EXPECT_EQ(Serial_Patch(image, "654321"), PatchResult::Replaced);
    EXPECT_EQ(image[kSerialIndex], SerialRecordFor("654321"));
    EXPECT_EQ(std::count_if(image.begin(), image.end(),
                            [](const std::string& l) { return l.starts_with(":103E0000"); }),
              1);

    // The download drops the marker line; a later patch still finds the record, one up.
    // Only the marked tag line matters here.
    static_cast<void>(Tag_Read(image));
    std::erase_if(image, [](const std::string& l) { return l.find('\0') != std::string::npos; });
    ASSERT_EQ(image.size(), Image_Build().size() - 1);
    EXPECT_EQ(Serial_Patch(image, "999999"), PatchResult::Replaced);
    EXPECT_EQ(image[kSerialIndex - 1], ":103E00008207393439343934393439343934203447");
}

TEST(SerialPatch, OnlyTheFirstMatchingLineIsReplaced) {
    FirmwareImage image{":00000001FF", std::string(kSerialPlaceholder),
                        std::string(kSerialPlaceholder)};
    EXPECT_EQ(Serial_Patch(image, "123456"), PatchResult::Replaced);
    EXPECT_EQ(image[1], SerialRecordFor("123456"));
    EXPECT_EQ(image[2], kSerialPlaceholder);
}

TEST(SerialPatch, NoSerialRecordIsReportedAndChangesNothing) {
    FirmwareImage image{":020000040000FA", ":103E0000", ":00000001FF"};  // prefix cut short
    const FirmwareImage before = image;
    EXPECT_EQ(Serial_Patch(image, "123456"), PatchResult::NoRecord);
    EXPECT_EQ(image, before);
}

TEST(SerialPatch, EveryRecordFromSixDigitsIsAValidRecordOfThoseDigits) {
    for (unsigned value = 0; value <= 999999; value += 1009) {
        for (unsigned serial : {value, 999999 - value}) {
            char text[8];
            std::snprintf(text, sizeof text, "%06u", serial);
            SCOPED_TRACE(text);
            const std::string record = SerialRecordFor(text);
            ASSERT_EQ(record.size(), 43u);
            EXPECT_TRUE(record.starts_with(":103E00008207"));
            const auto decoded = test::Decode(record);
            ASSERT_TRUE(decoded) << record;
            EXPECT_EQ(decoded->byteSum % 256, 0u);
            // Words 0x1F01 to 0x1F07: RETLW with each digit's code, then RETLW ' '.
            for (int i = 0; i < 6; ++i) {
                EXPECT_EQ(decoded->data[2 + 2 * i], static_cast<unsigned char>(text[i]));
                EXPECT_EQ(decoded->data[3 + 2 * i], 0x34);
            }
            EXPECT_EQ(decoded->data[14], 0x20);
            EXPECT_EQ(decoded->data[15], 0x34);
        }
    }
}

}  // namespace
}  // namespace q218
