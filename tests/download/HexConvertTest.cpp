#include "download/HexConvert.h"

#include <gtest/gtest.h>

#include <string>

namespace q218 {
namespace {

struct HexRow {
    const char* name;
    std::string text;
    std::int16_t expected;
};

TEST(HexConvert, ReadsUpperCaseDigitsAndCountsAnyOtherCharacterByItsCode) {
    const HexRow rows[] = {
        {"empty text", "", 0},
        {"leading zero", "0A", 10},
        {"high nibble 8", "8A", 138},
        {"largest byte", "FF", 255},
        {"mixed digit and letter", "2F", 47},
        {"single digit", "7", 7},
        {"lower-case a counts 97", "a0", 1552},
        {"G counts 71", "G1", 1137},
        {"space counts 32", " 1", 513},
        {"NUL counts 0",
         std::string("\0"
                     "5",
                     2),
         5},
        {"character above 127 counts its byte",
         "\xFF"
         "0",
         4080},
        {"four digits", "1F40", 0x1F40},
    };
    for (const HexRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Hex_Convert(row.text), row.expected);
    }
}

TEST(HexConvert, WrapsToSixteenBitsInsteadOfOverflowing) {
    EXPECT_EQ(Hex_Convert("7FFF"), 32767);
    EXPECT_EQ(Hex_Convert("8000"), -32768);
    EXPECT_EQ(Hex_Convert("FFFF"), -1);
    // Only the last four digits survive; a long text must not be undefined behaviour.
    EXPECT_EQ(Hex_Convert("123456789ABCDEF01234"), 0x1234);
}

}  // namespace
}  // namespace q218
