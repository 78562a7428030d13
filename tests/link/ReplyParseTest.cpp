// The identification reply as the device sends it: the short form, and fields each ended by
// one space.

#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "link/Identification.h"

namespace q218 {
namespace {

struct ReplyRow {
    const char* name;
    ReplyFields before;
    std::string reply;
    ReplyForm form;
    ReplyFields after;
};

const ReplyFields kEmpty{};
const ReplyFields kEarlier{"111111", "Q218", "R03.0", "2020-01-01", "x"};

// Parses each row's reply into its fields as they were before, and checks the form and all
// five fields after.
template <std::size_t N>
void ExpectRows(const ReplyRow (&rows)[N]) {
    for (const ReplyRow& row : rows) {
        SCOPED_TRACE(row.name);
        ReplyFields fields = row.before;
        EXPECT_EQ(ParseReply(row.reply, fields), row.form);
        EXPECT_EQ(fields, row.after);
    }
}

TEST(ReplyParseTest, FormsAndFields) {
    const ReplyRow rows[] = {
        {"full reply",
         kEmpty,
         "123456 Q218 R04.5 2021-11-02 \r\n",
         ReplyForm::Fields,
         {"123456", "Q218", "R04.5", "2021-11-02", ""}},
        {"five fields", kEmpty, "1 Q218 3 4 5 \r", ReplyForm::Fields, {"1", "Q218", "3", "4", "5"}},
        {"exactly Q218", kEarlier, "Q218", ReplyForm::Short, {"", "Q218", "", "", "x"}},
        {"Q218 then anything",
         kEarlier,
         "Q218-B 654321 R09 2030-01-01 ",
         ReplyForm::Short,
         {"", "Q218", "", "", "x"}},
        {"lower-case model", kEmpty, "q218 rest ", ReplyForm::Fields, {"q218", "rest", "", "", ""}},
        {"lower-case model in field 2",
         kEarlier,
         "123456 q218 R1 D1 ",
         ReplyForm::Fields,
         {"123456", "q218", "R1", "D1", "x"}},
        {"missing last space keeps the earlier date",
         kEarlier,
         "222222 Q218 R04.5 2021-11-02",
         ReplyForm::Fields,
         {"222222", "Q218", "R04.5", "2020-01-01", "x"}},
        {"two fields after a full reply",
         kEarlier,
         "333333 Q218 ",
         ReplyForm::Fields,
         {"333333", "Q218", "R03.0", "2020-01-01", "x"}},
        {"two spaces in a row",
         kEmpty,
         "123456  R1 D1 ",
         ReplyForm::Fields,
         {"123456", "", "R1", "D1", ""}},
        {"leading space",
         kEarlier,
         " Q218 R1 D1 ",
         ReplyForm::Fields,
         {"", "Q218", "R1", "D1", "x"}},
        {"no reply empties only the model",
         kEarlier,
         "",
         ReplyForm::Fields,
         {"111111", "", "R03.0", "2020-01-01", "x"}},
        {"text without a space",
         kEarlier,
         "Q21",
         ReplyForm::Fields,
         {"111111", "", "R03.0", "2020-01-01", "x"}},
        {"sixth field fails after storing five",
         kEarlier,
         "1 Q218 3 4 5 6 ",
         ReplyForm::SixthField,
         {"1", "Q218", "3", "4", "5"}},
        {"sixth text without its space is no field",
         kEmpty,
         "1 Q218 3 4 5 6",
         ReplyForm::Fields,
         {"1", "Q218", "3", "4", "5"}},
        {"six spaces", kEarlier, "      ", ReplyForm::SixthField, {"", "", "", "", ""}},
    };
    ExpectRows(rows);
}

TEST(ReplyParseTest, HostileBytesAreOrdinaryCharacters) {
    const std::string serial(50'000, '7');
    const std::string revision(30'000, 'r');
    const ReplyRow rows[] = {
        {"NUL and bytes above 127 inside fields",
         kEmpty,
         {'1', '\0', '3', ' ', 'Q', '2', '1', '8', ' ', '\xFF', '\x80', ' ', '\0', ' '},
         ReplyForm::Fields,
         {std::string({'1', '\0', '3'}), "Q218", "\xFF\x80", std::string(1, '\0'), ""}},
        {"NUL inside the first four characters is not the short form",
         kEmpty,
         {'Q', '2', '\0', '8', ' '},
         ReplyForm::Fields,
         {std::string({'Q', '2', '\0', '8'}), "", "", "", ""}},
        {"a hundred thousand characters without a space",
         kEarlier,
         std::string(100'000, '\xA5'),
         ReplyForm::Fields,
         {"111111", "", "R03.0", "2020-01-01", "x"}},
        {"long fields",
         kEmpty,
         serial + " Q218 " + revision + " ",
         ReplyForm::Fields,
         {serial, "Q218", revision, "", ""}},
        {"thousands of spaces fail as a sixth field",
         kEmpty,
         std::string(5'000, ' '),
         ReplyForm::SixthField,
         {"", "", "", "", ""}},
    };
    ExpectRows(rows);
}

// Random bytes rich in spaces and in the model's letters, checked against what any reply
// must give: the form follows from the prefix and the number of spaces, and the fields
// taken, joined by spaces, are the reply up to its last space.
TEST(ReplyParseTest, RandomRepliesKeepTheFieldRules) {
    std::mt19937 random(218);
    const std::string alphabet{' ', ' ', 'Q', '2', '1', '8', '\0', '\xFF', '\r', 'a'};
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 20'000; ++round) {
        std::string reply;
        for (int i = length(random); i > 0; --i) {
            reply += alphabet[pick(random)];
        }
        const ReplyFields before{"s", "m", "r", "d", "f"};
        ReplyFields fields = before;
        const ReplyForm form = ParseReply(reply, fields);
        const auto spaces = static_cast<std::size_t>(std::count(reply.begin(), reply.end(), ' '));
        SCOPED_TRACE("reply of " + std::to_string(reply.size()) + " characters, round " +
                     std::to_string(round));
        if (reply.rfind("Q218", 0) == 0) {
            ASSERT_EQ(form, ReplyForm::Short);
            continue;
        }
        if (spaces > 5) {
            ASSERT_EQ(form, ReplyForm::SixthField);
            continue;
        }
        ASSERT_EQ(form, ReplyForm::Fields);
        std::string joined;
        for (std::size_t i = 0; i < spaces; ++i) {
            joined += fields[i] + " ";
        }
        ASSERT_EQ(joined, reply.substr(0, reply.rfind(' ') + 1));
        for (std::size_t i = spaces; i < fields.size(); ++i) {
            ASSERT_EQ(fields[i], i == 1 ? "" : before[i]) << "field " << i + 1;
        }
    }
}

}  // namespace
}  // namespace q218
