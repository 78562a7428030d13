#pragma once
// The build-time check of the image input: every rule the download relies on, so that a
// replacement payload that breaks one fails the build with the line and the rule instead of
// reaching a device. Plain C++; the q218-image-check tool runs it before generating the table.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q218 {

// One broken rule. `line` counts from 1 as an editor shows the input; 0 means the whole file.
struct ImageProblem {
    std::size_t line = 0;
    std::string message;  // starts with the rule's name, e.g. "checksum: ..."
};

// One Intel HEX record taken apart.
struct HexRecord {
    std::uint8_t count = 0;
    std::uint16_t address = 0;  // byte address
    std::uint8_t type = 0;
    std::vector<std::uint8_t> data;
    std::uint8_t checksum = 0;
};

// A line taken apart: the record, or the words of what is wrong with it.
struct ParsedHexRecord {
    std::optional<HexRecord> record;
    std::string problem;  // when there is no record: start, characters, length, count, checksum
};

[[nodiscard]] ParsedHexRecord ParseHexRecord(std::string_view line);

// The lines of an input file: split at "\n"; a final "\n" does not start another line.
std::vector<std::string> SplitImageText(std::string_view text);

// Every broken rule, in line order (whole-file rules first). Empty when the image is sound.
std::vector<ImageProblem> Image_Check(const std::vector<std::string>& lines);

// "file:line: message", or "file: message" for a whole-file rule.
std::string FormatProblem(std::string_view file, const ImageProblem& problem);

// The q218-image-check tool: checks the file `input` and prints each broken rule to `errors`;
// with a sound input and a non-empty `output` it writes there the C++ table that Image_Build
// copies. A failed check removes `output`, so that the build stops. Returns the exit status:
// 0 sound, 1 broken, 2 file error.
int ImageCheckRun(const std::string& input, const std::string& output, std::ostream& errors);

}  // namespace q218
