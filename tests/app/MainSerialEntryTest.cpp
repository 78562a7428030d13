// The serial-number entry: what the technician types into the box, confirmed by "OK" or by
// Enter, before it may reach the image.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "MainFixture.h"

namespace q218::test {
namespace {

TEST(MainSerialEntry, TypedSerialsAreCheckedBeforeTheyReachTheImage) {
    // The lowest, the highest and an ordinary number reach the serial record.
    std::vector<std::pair<std::string, std::optional<std::string>>> entries = {
        {"000001", kRecord000001}, {"999999", kRecord999999}, {"123456", kRecord123456}};
    // Refused, the record left as built: below 1, five digits, empty, a sign, a blank before or
    // after, a decimal point, exponents (one of six characters), hexadecimal, letters.
    for (const char* refused : {"000000", "12345", "", "-12345", "+12345", " 12345", "12345 ",
                                "12.456", "1e5", "1E+005", "0x1234", "abcdef"}) {
        entries.emplace_back(refused, std::nullopt);
    }
    for (const auto& [typed, record] : entries) {
        SCOPED_TRACE("typed \"" + typed + "\"");
        SerialEntryBench bench;
        ASSERT_EQ(StateOf(bench.view), kWaitingForSerial);
        const int opensBefore = bench.TotalOpens();

        bench.Type(typed);
        bench.main.cmdOK_Click();

        if (record) {
            EXPECT_EQ(StateOf(bench.view), kReadyTyped);
            EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], *record);
            EXPECT_EQ(bench.view.Beeps(), 0);
        } else {
            EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
            EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kPlaceholderRecord);
            EXPECT_EQ(bench.view.Beeps(), 1);
        }
        EXPECT_EQ(bench.view.GetText(TextBox::Text4), "");
        // "OK" confirmed the entry; it did not scan the ports again.
        EXPECT_EQ(bench.TotalOpens(), opensBefore);
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

TEST(MainSerialEntry, EnterInTheBoxConfirmsLikeOkWhateverTheShiftState) {
    struct Row {
        const char* name;
        int shift;
    };
    for (const Row row : {Row{"Enter", 0}, Row{"Shift+Enter", kShiftMask},
                          Row{"Ctrl+Enter", kCtrlMask}, Row{"Alt+Enter", kAltMask}}) {
        SCOPED_TRACE(row.name);
        SerialEntryBench byEnter;
        byEnter.Type("654321");
        byEnter.main.Text4_KeyDown(kKeyEnter, row.shift);

        SerialEntryBench byOk;
        byOk.Type("654321");
        byOk.main.cmdOK_Click();

        EXPECT_EQ(StateOf(byEnter.view), kReadyTyped);
        EXPECT_EQ(StateOf(byEnter.view), StateOf(byOk.view));
        EXPECT_EQ(byEnter.main.Image(), byOk.main.Image());
    }
}

TEST(MainSerialEntry, EnterRefusesAnInvalidEntryAndOtherKeysDoNothing) {
    SerialEntryBench bench;
    bench.Type("12345");
    bench.main.Text4_KeyDown(kKeyEnter, 0);
    EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
    EXPECT_EQ(bench.view.Beeps(), 1);

    // Typing goes on in the box; only Enter checks it.
    bench.Type("65432");
    for (std::int16_t key : {std::int16_t{'1'}, std::int16_t{'A'}, std::int16_t{8},
                             std::int16_t{27}, std::int16_t{10}}) {
        SCOPED_TRACE(key);
        bench.main.Text4_KeyDown(key, 0);
        EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
        EXPECT_EQ(bench.view.GetText(TextBox::Text4), "65432");
    }
    EXPECT_EQ(bench.view.Beeps(), 1);
}

TEST(MainSerialEntry, RefusalsHaveNoLimitAndAValidEntryStillFollows) {
    SerialEntryBench bench;
    for (const char* wrong : {"", "000000", "12 456", "99999"}) {
        bench.Type(wrong);
        bench.main.cmdOK_Click();
    }
    EXPECT_EQ(bench.view.Beeps(), 4);
    EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{});
    bench.Type("123456");
    bench.main.cmdOK_Click();
    EXPECT_EQ(StateOf(bench.view), kReadyTyped);
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kRecord123456);
}

}  // namespace
}  // namespace q218::test
