// The command line of q218-sim: what it accepts, what it refuses, and that the options end
// up on the device.

#include "sim/SimOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/FakeClock.h"
#include "support/Bytes.h"

namespace q218::sim {
namespace {

TEST(SimOptions, RefusesWhatWouldMakeAnImpossibleDevice) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
    };
    const std::vector<Row> rows = {
        {"five-digit serial", {"--serial", "12345"}},
        {"serial with a letter", {"--serial", "12345a"}},
        {"revision with a space", {"--revision", "R04 5"}},
        {"empty date", {"--date", ""}},
        {"handshake of one character", {"--handshake", "T"}},
        {"BEL times zero", {"--bel-after-frame", "3:0"}},
        {"negative frame", {"--corrupt-frame", "-1"}},
        {"reply without frame", {"--reply-after-frame", "t"}},
        {"reply empty", {"--reply-after-frame", "4:"}},
        {"bad escape", {"--noise", "\\q"}},
        {"short hex escape", {"--identification", "Q218\\x4"}},
        {"missing value", {"--serial"}},
        {"unknown option", {"--baud", "19200"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ParsedOptions parsed = ParseSimOptions(row.args);
        EXPECT_FALSE(parsed.options);
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(SimOptions, EscapesStandForTheirBytes) {
    struct Row {
        const char* name;
        const char* text;
        std::optional<std::string> bytes;
    };
    const std::vector<Row> rows = {
        {"named escapes", "a\\r\\n\\t\\\\", std::string("a\r\n\t\\")},
        {"upper-case hex", "\\x1B\\xFF", std::string("\x1b\xff")},
        // Typed by a person: lower case is a digit here, unlike in the image's records.
        {"lower-case hex", "\\x1b\\xfe", std::string("\x1b\xfe")},
        {"a letter past F", "\\xG0", std::nullopt},
        {"a letter past f", "\\x0g", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Unescape(row.text), row.bytes);
    }
}

TEST(SimOptions, ParsedOptionsReachTheDevice) {
    const ParsedOptions parsed = ParseSimOptions({"--serial",
                                                  "",
                                                  "--revision",
                                                  "R09.9",
                                                  "--date",
                                                  "2030-01-01",
                                                  "--handshake",
                                                  "\\x00T",
                                                  "--noise",
                                                  "ab\\r",
                                                  "--bel-after-frame",
                                                  "0:2",
                                                  "--reply-after-frame",
                                                  "2:t",
                                                  "--link",
                                                  "/x/y",
                                                  "--silent-link",
                                                  "/x/1",
                                                  "--silent-link",
                                                  "/x/2",
                                                  "--paced"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const SimOptions& o = *parsed.options;
    EXPECT_EQ(o.linkPath, "/x/y");
    EXPECT_EQ(o.silentLinks, (std::vector<std::string>{"/x/1", "/x/2"}));

    FakeClock clock;
    SimulatedQ218 device(clock, o.device.firmware);
    ApplyOptions(o, device);
    // Host writes `bytes` and reads what a second later is readable.
    const auto exchange = [&](std::string_view bytes) {
        device.Receive(bytes);
        clock.Advance(std::chrono::seconds(1));
        return device.TakeReadable();
    };
    EXPECT_EQ(exchange("990\r"), " Q218 R09.9 2030-01-01 \r");
    EXPECT_EQ(exchange("977\r"), "ab\r\x05");
    EXPECT_EQ(exchange("\x06"), std::string("\0TT", 3));
    const std::string frame = test::ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85");
    const std::string replies[] = {"\x07", "\x07", "t"};
    for (const std::string& expected : replies) {
        EXPECT_EQ(exchange(frame), expected);
    }
}

TEST(SimOptions, BootloaderOnlyAnswersWithTheModelAlone) {
    const ParsedOptions parsed = ParseSimOptions({"--bootloader-only"});
    ASSERT_TRUE(parsed.options);
    FakeClock clock;
    SimulatedQ218 device(clock, parsed.options->device.firmware);
    ApplyOptions(*parsed.options, device);
    EXPECT_EQ(device.IdentificationText(), "Q218");
}

}  // namespace
}  // namespace q218::sim
