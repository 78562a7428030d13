// The build-time image check: the committed input passes, and each way a replacement payload
// could break the download is rejected with the line and the rule.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "HexLines.h"
#include "image/FirmwareImage.h"
#include "image/ImageCheck.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

using Lines = std::vector<std::string>;

// An Intel HEX record built here, independently of the checker's parser.
std::string Record(unsigned address, unsigned type, const std::vector<unsigned>& data) {
    std::vector<unsigned> bytes{static_cast<unsigned>(data.size()), address >> 8, address & 0xFF,
                                type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (unsigned b : bytes) {
        sum += b;
    }
    bytes.push_back((256 - sum % 256) % 256);
    std::string line = ":";
    char hex[3];
    for (unsigned b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line;
}

// Puts `record` among the data records where its address keeps them ascending, in place of
// another data record (neither the reset vector nor the serial record) so that the line count
// stays; returns its line, counted from 1.
std::size_t MoveIn(Lines& lines, const std::string& record) {
    auto address = [&](std::size_t i) { return test::Decode(lines[i])->address; };
    std::size_t drop = 2;
    while (address(drop) == 0 || lines[drop].starts_with(":103E00008207")) {
        ++drop;
    }
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(drop));
    std::size_t at = 2;
    while (at + 1 < lines.size() && address(at) < test::Decode(record)->address) {
        ++at;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), record);
    return at + 1;
}

bool HasProblem(const std::vector<ImageProblem>& problems, std::size_t line,
                const std::string& rule) {
    for (const ImageProblem& p : problems) {
        if (p.line == line && p.message.starts_with(rule + ":")) {
            return true;
        }
    }
    return false;
}

std::string Describe(const std::vector<ImageProblem>& problems) {
    std::string text;
    for (const ImageProblem& p : problems) {
        text += FormatProblem("image", p) + "\n";
    }
    return text;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ImageCheck, TheCommittedInputAndTheBuiltImagePass) {
    const Lines input = SplitImageText(ReadFile(Q218_IMAGE_INPUT));
    EXPECT_EQ(input.size(), 370u);
    EXPECT_EQ(Describe(Image_Check(input)), "");
    EXPECT_EQ(input, Image_Build());
}

// The rows break lines that hold records in any payload; what depends on the payload (where
// the serial record and the end record stand) is found in the image.
TEST(ImageCheck, RejectsEachBrokenRuleAtItsLine) {
    const std::vector<unsigned> sixteen(16, 0x00);
    const std::size_t serial = test::SerialIndexOf(Image_Build());
    const std::size_t last = Image_Build().size() - 1;
    struct Row {
        const char* name;
        std::function<void(Lines&)> breakIt;
        std::size_t line;  // 1-based as in the file; 0 for the whole file
        std::string rule;
    };
    const std::vector<Row> rows = {
        {"16-byte record at address 0000", [&](Lines& l) { l[2] = Record(0x0000, 0, sixteen); }, 3,
         "reset vector"},
        {"broken checksum", [](Lines& l) { l[100].back() = l[100].back() == '0' ? '1' : '0'; }, 101,
         "checksum"},
        {"missing placeholder", [&](Lines& l) { l[serial] = Record(0x3E00, 0, sixteen); }, 0,
         "serial record"},
        {"placeholder already patched",
         [&](Lines& l) { l[serial] = ":103E00008207313432343334343435343634203468"; }, serial + 1,
         "serial record"},
        {"lower-case hex digit", [](Lines& l) { l[10] = ":080008008a01572883018501DC"; }, 11,
         "record"},
        {"byte count larger than the data", [](Lines& l) { l[3] = ":0A0008008A01572883018501DC"; },
         4, "byte count"},
        {"odd byte count",
         [](Lines& l) {
             l[120] = Record(0x2080, 0, {0x68, 0x28, 0x00});
         },
         121, "byte count"},
        {"more than 16 bytes",
         [](Lines& l) { l[4] = Record(0x0010, 0, std::vector<unsigned>(18, 0x01)); }, 5,
         "byte count"},
        {"record crossing a 16-byte block", [&](Lines& l) { l[66] = Record(0x0428, 0, sixteen); },
         67, "16-byte block"},
        {"addresses out of order", [](Lines& l) { std::swap(l[100], l[101]); }, 102,
         "address order"},
        {"record overlapping the last word of the one before",
         [](Lines& l) {
             const auto before = test::Decode(l[4]);
             l[5] = Record(before->address + before->count - 2, 0, {0x00, 0x30});
         },
         6, "address order"},
        {"a line missing", [](Lines& l) { l.erase(l.begin() + 200); }, 0, "line count"},
        {"tag not first", [](Lines& l) { std::swap(l[0], l[1]); }, 1, "tag"},
        {"a second tag line", [](Lines& l) { l[200] = l[0]; }, 201, "tag"},
        {"tag with seven fields", [](Lines& l) { l[0] += "_a_b_c"; }, 1, "tag"},
        {"address record replaced",
         [](Lines& l) {
             l[1] = Record(0x0000, 4, {0x00, 0x01});
         },
         2, "address record"},
        {"end record not last", [&](Lines& l) { std::swap(l[last - 1], l[last]); }, last + 1,
         "end record"},
        {"second address record among the data", [](Lines& l) { l[300] = ":020000040000FA"; }, 301,
         "record type"},
        {"empty line", [](Lines& l) { l[150] = ""; }, 151, "empty line"},
        {"carriage return from a DOS file", [](Lines& l) { l[150] += "\r"; }, 0, "line ends"},
        {"carriage return inside a line", [](Lines& l) { l[150].insert(5, "\r"); }, 151,
         "characters"},
        {"a broken rule behind a CRLF line end",
         [](Lines& l) {
             l[100].back() = l[100].back() == '0' ? '1' : '0';
             l[100] += "\r";
         },
         101, "checksum"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Lines lines = Image_Build();
        row.breakIt(lines);
        const std::vector<ImageProblem> problems = Image_Check(lines);
        EXPECT_TRUE(HasProblem(problems, row.line, row.rule)) << Describe(problems);
    }
}

TEST(ImageCheck, RejectsARecordInTheBootloaderAreaAtItsLine) {
    const std::string rows[] = {
        Record(0x3E40, 0, {0x68, 0x28}),                     // word 0x1F20
        Record(0x3E30, 0, std::vector<unsigned>(16, 0x00)),  // reaching word 0x1F1F
        Record(0x3FFE, 0, {0xFF, 0x3F}),                     // the top word 0x1FFF
    };
    for (const std::string& record : rows) {
        SCOPED_TRACE(record);
        Lines lines = Image_Build();
        const std::size_t line = MoveIn(lines, record);
        const std::vector<ImageProblem> problems = Image_Check(lines);
        EXPECT_TRUE(HasProblem(problems, line, "bootloader area")) << Describe(problems);
    }
}

TEST(ImageCheck, SplitsTheFileIntoLines) {
    EXPECT_EQ(SplitImageText("a\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitImageText("a\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitImageText("a\n\nb\n"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitImageText("a\n\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitImageText(""), Lines{});
}

// The tool's run as the build runs it: a broken input fails with "file:line: rule" and leaves
// no generated table behind; a file checked out with CRLF gets one message saying what to do;
// a sound one writes the table.
TEST(ImageCheck, ToolFailsTheBuildOnABrokenInputAndWritesTheTableOtherwise) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(testing::TempDir()) / "q218-image-check-test";
    fs::create_directories(folder);
    const fs::path table = folder / "EmbeddedImage.cpp";
    std::ostringstream messages;
    auto write = [&](const char* name, const Lines& lines, const char* lineEnd) {
        std::ofstream out(folder / name, std::ios::binary);
        for (const std::string& line : lines) {
            out << line << lineEnd;
        }
        return (folder / name).string();
    };

    Lines lines = Image_Build();
    const std::size_t moved = MoveIn(lines, Record(0x3E40, 0, {0x68, 0x28}));
    std::ofstream(table) << "stale";
    EXPECT_EQ(ImageCheckRun(write("broken.txt", lines, "\n"), table.string(), messages), 1);
    EXPECT_NE(messages.str().find("broken.txt:" + std::to_string(moved) + ": bootloader area:"),
              std::string::npos)
        << messages.str();
    EXPECT_FALSE(fs::exists(table));

    messages.str("");
    const std::string crlf = write("crlf.txt", Image_Build(), "\r\n");
    EXPECT_EQ(ImageCheckRun(crlf, table.string(), messages), 1);
    EXPECT_EQ(messages.str(),
              crlf + ": line ends: " + std::to_string(test::ReadImageInput().size()) +
                  " line(s) end in CRLF, the first is line 1; check the file out "
                  "with LF line ends (see .gitattributes)\n" +
                  crlf + ": 1 broken rule(s); the updater is not built from this image\n");

    messages.str("");
    EXPECT_EQ(ImageCheckRun(Q218_IMAGE_INPUT, table.string(), messages), 0) << messages.str();
    EXPECT_NE(ReadFile(table).find("\"" + test::ReadImageInput()[0] + "\","), std::string::npos);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace q218
