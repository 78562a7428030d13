// Tag_Read: marking every line that is not a record, and splitting the tag line into the six
// slots and the version line for Text3.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "image/ImageCheck.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

const std::string kMarker(1, '\0');

TEST(TagRead, EmbeddedImageShowsItsVersionAndMarksOnlyTheTagLine) {
    FirmwareImage image = Image_Build();
    const FirmwareImage built = image;

    const test::PayloadTag& tag = test::InputTag();
    const TagReading read = Tag_Read(image);
    EXPECT_EQ(read.versionLine, tag.VersionLine());
    EXPECT_EQ(read.fields, (TagFields{".DORVANE", tag.model, tag.revision, tag.date, "", ""}));
    ASSERT_EQ(image.size(), test::ReadImageInput().size());
    EXPECT_EQ(image[0], kMarker);
    EXPECT_EQ(image[0].size(), 1u);  // one NUL, not the empty text
    EXPECT_TRUE(std::equal(image.begin() + 1, image.end(), built.begin() + 1));
}

TEST(TagRead, SplitsTheTagAtEveryUnderscore) {
    struct Row {
        const char* name;
        std::string lines;  // the image, one line after each "\n"
        TagFields fields;
        std::string version;
    };
    const TagFields none{"", "", "", "", "", ""};
    const TagFields six{".DORVANE", "M", "R", "D", "x", "y"};
    const Row rows[] = {
        {"empty piece between underscores", ".DORVANE_A__B", {".DORVANE", "A", "", "B"}, "A    B"},
        {"no underscore: all in slot 0", ".DORVANE", {".DORVANE"}, "    "},
        {"trailing underscore: empty piece", ".DORVANE_Q218_", {".DORVANE", "Q218"}, "Q218    "},
        {"six fields fill six slots", ".DORVANE_M_R_D_x_y", six, "M  R  D"},
        {"eight fields keep six", ".DORVANE_M_R_D_x_y_z_w", six, "M  R  D"},
        {"the last tag line wins",
         ".DORVANE_OLD_R01.0_2001-01-01\n:00000001FF\n.DORVANE_NEW_R02.0_2002-02-02",
         {".DORVANE", "NEW", "R02.0", "2002-02-02"},
         "NEW  R02.0  2002-02-02"},
        {"lower-case marker is not the tag", ".dorvane_Q218_R04.6_2022-04-18", none, "    "},
        {"line shorter than the marker", ".DORVAN", none, "    "},
        {"no tag at all", ":00000001FF", none, "    "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareImage image = SplitImageText(row.lines);
        const TagReading read = Tag_Read(image);
        EXPECT_EQ(read.versionLine, row.version);
        EXPECT_EQ(read.fields, row.fields);
    }
}

TEST(TagRead, MarksEveryLineThatIsNotARecord) {
    struct Row {
        const char* name;
        std::string line;
        bool marked;  // replaced by the marker, or kept as it is
    };
    const Row rows[] = {
        {"empty line", "", true},
        {"text without a colon", "hello", true},
        {"colon later in the line", " :00000001FF", true},
        {"marker text stays the marker", kMarker, true},
        {"tag line", ".DORVANE_Q218_R04.6_2022-04-18", true},
        {"a record", ":020000040000FA", false},
        {"a colon alone", ":", false},
        {"a colon and anything", ":not hex at all", false},
    };
    FirmwareImage image;
    for (const Row& row : rows) {
        image.push_back(row.line);
    }
    // Only the marks are checked here.
    static_cast<void>(Tag_Read(image));
    ASSERT_EQ(image.size(), std::size(rows));
    for (std::size_t i = 0; i < image.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(image[i], rows[i].marked ? kMarker : rows[i].line);
    }
}

}  // namespace
}  // namespace q218
