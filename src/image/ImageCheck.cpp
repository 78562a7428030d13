#include "image/ImageCheck.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "image/FirmwareImage.h"

namespace q218 {

namespace {

constexpr std::string_view kTagMarker = ".DORVANE";
constexpr std::string_view kAddressRecord = ":020000040000FA";  // upper address bits 0x0000
constexpr std::string_view kEndRecord = ":00000001FF";

constexpr std::uint8_t kTypeData = 0x00;

// The bootloader frames at most 48 bytes; the image keeps every record within one 16-byte
// block so that each frame is one aligned row of eight words.
constexpr std::size_t kMaxDataBytes = 16;
constexpr unsigned kBlockBytes = 16;

// Words 0x1F1F to 0x1FFF stay free: the rewritten reset vector jumps to the bootloader at
// word 0x1F40, so a record there would overwrite it.
constexpr unsigned kReservedFirstByte = 0x1F1F * 2;
constexpr unsigned kReservedEndByte = 0x2000 * 2;  // one past the last reserved byte

// The goto rewrite of the download moves the single word of an address-0000 record to word 3.
constexpr std::uint8_t kResetVectorBytes = 2;

// Fields: marker, model, revision, date; the window keeps six slots.
constexpr std::size_t kMinTagFields = 4;
constexpr std::size_t kMaxTagFields = 6;

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

void CheckTag(const std::string& tag, std::vector<ImageProblem>& problems) {
    if (!tag.starts_with(kTagMarker)) {
        problems.push_back({1, "tag: the first line must be the tag line beginning with \"" +
                                   std::string(kTagMarker) + "\""});
        return;
    }
    std::size_t fields = 1;
    for (char c : tag) {
        fields += c == '_' ? 1 : 0;
    }
    if (fields < kMinTagFields || fields > kMaxTagFields) {
        problems.push_back({1, "tag: " + std::to_string(fields) +
                                   " \"_\"-separated fields; the tag needs marker, model, "
                                   "revision and date, and the window keeps at most six"});
    }
}

}  // namespace

std::optional<HexRecord> ParseHexRecord(std::string_view line, std::string& problem) {
    if (line.empty() || line.front() != ':') {
        problem = "record: does not begin with \":\"";
        return std::nullopt;
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (HexDigit(line[i]) < 0) {
            const bool lowerHex = (line[i] >= 'a' && line[i] <= 'f');
            problem = "record: character " + std::to_string(i + 1) +
                      (lowerHex ? " is a lower-case hex digit; use upper case only"
                                : " is not a hex digit 0-9 or A-F");
            return std::nullopt;
        }
    }
    // ":" count(2) address(4) type(2) checksum(2), no data: 11 characters.
    if (line.size() < 11 || line.size() % 2 == 0) {
        problem = "record: length " + std::to_string(line.size()) +
                  " is not \":\" plus whole bytes of count, address, type and checksum";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1])));
    }
    HexRecord record;
    record.count = bytes[0];
    record.address = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.type = bytes[3];
    record.checksum = bytes.back();
    const std::size_t dataBytes = bytes.size() - 5;
    if (record.count != dataBytes) {
        problem = "byte count: the record says " + std::to_string(record.count) +
                  " data bytes but holds " + std::to_string(dataBytes);
        return std::nullopt;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        sum += bytes[i];
    }
    const unsigned expected = (256 - sum % 256) % 256;
    if (record.checksum != expected) {
        problem = "checksum: the record ends in " + Hex(record.checksum, 2) + ", its bytes need " +
                  Hex(expected, 2);
        return std::nullopt;
    }
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return record;
}

std::vector<std::string> SplitImageText(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            lines.emplace_back(text);
            break;
        }
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<ImageProblem> Image_Check(const std::vector<std::string>& lines) {
    std::vector<ImageProblem> problems;
    if (lines.size() != kImageLineCount) {
        problems.push_back({0, "line count: " + std::to_string(lines.size()) +
                                   " lines; the image must have exactly " +
                                   std::to_string(kImageLineCount) +
                                   " (tag, address record, data records, end record)"});
    }
    if (lines.empty()) {
        return problems;
    }

    std::size_t serialRecords = 0;
    std::optional<unsigned> previousEnd;  // one past the last byte of the previous data record
    std::size_t previousLine = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        const std::size_t number = index + 1;
        auto report = [&](std::string message) {
            problems.push_back({number, std::move(message)});
        };

        bool printable = !line.empty();
        for (char c : line) {
            printable = printable && IsPrintable(c);
        }
        if (line.empty()) {
            report("empty line: every line must be the tag or a record");
            continue;
        }
        if (!printable) {
            report(
                "characters: only printable ASCII is allowed (a carriage return or tab "
                "counts as a character of the line)");
            continue;
        }
        if (index == 0) {
            CheckTag(line, problems);
            continue;
        }
        if (line.starts_with(kTagMarker)) {
            report("tag: only the first line may begin with \"" + std::string(kTagMarker) + "\"");
            continue;
        }
        if (line.starts_with(kSerialRecordPrefix)) {
            ++serialRecords;
            if (serialRecords > 1) {
                report("serial record: a second line begins with \"" +
                       std::string(kSerialRecordPrefix) +
                       "\"; the serial number must have exactly one place");
            } else if (line != kSerialPlaceholder) {
                report("serial record: must be the placeholder \"" +
                       std::string(kSerialPlaceholder) + "\"");
            }
        }

        std::string problem;
        const std::optional<HexRecord> record = ParseHexRecord(line, problem);
        if (!record) {
            report(problem);
            continue;
        }
        if (index == 1) {
            if (line != kAddressRecord) {
                report("address record: the second line must be \"" + std::string(kAddressRecord) +
                       "\"");
            }
            continue;
        }
        if (index + 1 == lines.size()) {
            if (line != kEndRecord) {
                report("end record: the last line must be \"" + std::string(kEndRecord) + "\"");
            }
            continue;
        }
        if (record->type != kTypeData) {
            report("record type: " + Hex(record->type, 2) +
                   " between the address record and the end record; only data records (00) "
                   "may stand there");
            continue;
        }

        const unsigned first = record->address;
        const unsigned end = first + record->count;
        if (record->address == 0 && record->count != kResetVectorBytes) {
            report(
                "reset vector: a record at address 0000 must have byte count 2 (one word); "
                "this one has " +
                std::to_string(record->count));
        }
        if (record->count == 0 || record->count % 2 != 0 || record->count > kMaxDataBytes) {
            report("byte count: " + std::to_string(record->count) +
                   " data bytes; a data record must hold an even count of 2 to 16 bytes");
        }
        if (first % 2 != 0) {
            report("address: " + Hex(first, 4) + " is odd; a record must start on a whole word");
        }
        if (record->count != 0 && first / kBlockBytes != (end - 1) / kBlockBytes) {
            report("16-byte block: bytes " + Hex(first, 4) + " to " + Hex(end - 1, 4) +
                   " cross a 16-byte boundary");
        }
        if (first < kReservedEndByte && end > kReservedFirstByte) {
            report("bootloader area: the record covers words " + Hex(first / 2, 4) + " to " +
                   Hex((end - 1) / 2, 4) +
                   "; words 0x1F1F to 0x1FFF must stay free for the bootloader");
        }
        if (previousEnd && first < *previousEnd) {
            report("address order: starts at " + Hex(first, 4) + ", before the end of line " +
                   std::to_string(previousLine) + " (" + Hex(*previousEnd, 4) +
                   "); data records must ascend without overlap");
        }
        previousEnd = end;
        previousLine = number;
    }

    if (serialRecords == 0) {
        problems.push_back({0, "serial record: no line begins with \"" +
                                   std::string(kSerialRecordPrefix) +
                                   "\"; the image needs exactly one placeholder \"" +
                                   std::string(kSerialPlaceholder) + "\""});
    }
    // Whole-file rules first, then in line order.
    std::stable_sort(problems.begin(), problems.end(),
                     [](const ImageProblem& a, const ImageProblem& b) { return a.line < b.line; });
    return problems;
}

std::string FormatProblem(std::string_view file, const ImageProblem& problem) {
    std::string text(file);
    if (problem.line != 0) {
        // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about
        // "literal" + std::string.
        text += ':';
        text += std::to_string(problem.line);
    }
    text += ": ";
    text += problem.message;
    return text;
}

}  // namespace q218
