#include "image/ImageCheck.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "image/FirmwareImage.h"
#include "image/HexDigit.h"

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

bool IsPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

void CheckTag(std::string_view tag, std::vector<ImageProblem>& problems) {
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

// Every rule over the lines, one step a kind of rule: the whole file, each line's text, where
// a record stands, and what a data record between the address and the end record must keep.
class ImageChecker {
public:
    explicit ImageChecker(const std::vector<std::string>& lines) : m_lines(lines) {
        CheckLineCount();
        if (m_lines.empty()) {
            return;
        }
        CheckLineEnds();
        for (std::size_t index = 0; index < m_lines.size(); ++index) {
            CheckLine(index);
        }
        CheckSerialRecordFound();
        // Whole-file rules first, then in line order.
        std::stable_sort(
            m_problems.begin(), m_problems.end(),
            [](const ImageProblem& a, const ImageProblem& b) { return a.line < b.line; });
    }

    std::vector<ImageProblem> Problems() { return std::move(m_problems); }

private:
    void Report(std::size_t number, std::string message) {
        m_problems.push_back({number, std::move(message)});
    }

    void CheckLineCount() {
        if (m_lines.size() != kImageLineCount) {
            Report(0, "line count: " + std::to_string(m_lines.size()) +
                          " lines; the image must have exactly " + std::to_string(kImageLineCount) +
                          " (tag, address record, data records, end record)");
        }
    }

    // Git for Windows checks text files out with CRLF line ends unless .gitattributes pins
    // them: one problem for the whole file says what to do, and the lines are checked without
    // their carriage returns instead of failing each one.
    void CheckLineEnds() {
        std::size_t crlfLines = 0;
        std::size_t firstCrlfLine = 0;
        for (std::size_t index = 0; index < m_lines.size(); ++index) {
            if (m_lines[index].ends_with('\r') && crlfLines++ == 0) {
                firstCrlfLine = index + 1;
            }
        }
        if (crlfLines != 0) {
            Report(0, "line ends: " + std::to_string(crlfLines) +
                          " line(s) end in CRLF, the first is line " +
                          std::to_string(firstCrlfLine) +
                          "; check the file out with LF line ends (see .gitattributes)");
        }
    }

    void CheckLine(std::size_t index) {
        std::string_view line = m_lines[index];
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::size_t number = index + 1;
        if (!CheckText(line, number)) {
            return;
        }
        if (index == 0) {
            CheckTag(line, m_problems);
            return;
        }
        if (line.starts_with(kTagMarker)) {
            Report(number,
                   "tag: only the first line may begin with \"" + std::string(kTagMarker) + "\"");
            return;
        }
        CheckSerialRecord(line, number);

        const ParsedHexRecord parsed = ParseHexRecord(line);
        const std::optional<HexRecord>& record = parsed.record;
        if (!record) {
            Report(number, parsed.problem);
        } else if (index == 1) {
            if (line != kAddressRecord) {
                Report(number, "address record: the second line must be \"" +
                                   std::string(kAddressRecord) + "\"");
            }
        } else if (index + 1 == m_lines.size()) {
            if (line != kEndRecord) {
                Report(number,
                       "end record: the last line must be \"" + std::string(kEndRecord) + "\"");
            }
        } else if (record->type != kTypeData) {
            Report(number, "record type: " + Hex(record->type, 2) +
                               " between the address record and the end record; only data "
                               "records (00) may stand there");
        } else {
            CheckDataRecord(*record, number);
        }
    }

    // A line is the tag or a record, in printable ASCII; false when the line's other rules
    // cannot be judged.
    bool CheckText(std::string_view line, std::size_t number) {
        if (line.empty()) {
            Report(number, "empty line: every line must be the tag or a record");
            return false;
        }
        if (!std::all_of(line.begin(), line.end(), IsPrintable)) {
            Report(number,
                   "characters: only printable ASCII is allowed (a carriage return or tab "
                   "counts as a character of the line)");
            return false;
        }
        return true;
    }

    void CheckSerialRecord(std::string_view line, std::size_t number) {
        if (!line.starts_with(kSerialRecordPrefix)) {
            return;
        }
        ++m_serialRecords;
        if (m_serialRecords > 1) {
            Report(number, "serial record: a second line begins with \"" +
                               std::string(kSerialRecordPrefix) +
                               "\"; the serial number must have exactly one place");
        } else if (line != kSerialPlaceholder) {
            Report(number, "serial record: must be the placeholder \"" +
                               std::string(kSerialPlaceholder) + "\"");
        }
    }

    void CheckSerialRecordFound() {
        if (m_serialRecords == 0) {
            Report(0, "serial record: no line begins with \"" + std::string(kSerialRecordPrefix) +
                          "\"; the image needs exactly one placeholder \"" +
                          std::string(kSerialPlaceholder) + "\"");
        }
    }

    // What the download's frames need of a data record: its size, its place in program memory
    // and its order after the record before it.
    void CheckDataRecord(const HexRecord& record, std::size_t number) {
        const unsigned first = record.address;
        const unsigned end = first + record.count;
        if (record.address == 0 && record.count != kResetVectorBytes) {
            Report(number,
                   "reset vector: a record at address 0000 must have byte count 2 (one word); "
                   "this one has " +
                       std::to_string(record.count));
        }
        if (record.count == 0 || record.count % 2 != 0 || record.count > kMaxDataBytes) {
            Report(number, "byte count: " + std::to_string(record.count) +
                               " data bytes; a data record must hold an even count of 2 to 16 "
                               "bytes");
        }
        if (first % 2 != 0) {
            Report(number,
                   "address: " + Hex(first, 4) + " is odd; a record must start on a whole word");
        }
        if (record.count != 0 && first / kBlockBytes != (end - 1) / kBlockBytes) {
            Report(number, "16-byte block: bytes " + Hex(first, 4) + " to " + Hex(end - 1, 4) +
                               " cross a 16-byte boundary");
        }
        if (first < kReservedEndByte && end > kReservedFirstByte) {
            Report(number, "bootloader area: the record covers words " + Hex(first / 2, 4) +
                               " to " + Hex((end - 1) / 2, 4) +
                               "; words 0x1F1F to 0x1FFF must stay free for the bootloader");
        }
        if (m_previousEnd && first < *m_previousEnd) {
            Report(number, "address order: starts at " + Hex(first, 4) +
                               ", before the end of line " + std::to_string(m_previousLine) + " (" +
                               Hex(*m_previousEnd, 4) +
                               "); data records must ascend without overlap");
        }
        m_previousEnd = end;
        m_previousLine = number;
    }

    const std::vector<std::string>& m_lines;
    std::vector<ImageProblem> m_problems;
    std::size_t m_serialRecords = 0;
    std::optional<unsigned> m_previousEnd;  // one past the last byte of the previous data record
    std::size_t m_previousLine = 0;
};

}  // namespace

ParsedHexRecord ParseHexRecord(std::string_view line) {
    if (line.empty() || line.front() != ':') {
        return {std::nullopt, "record: does not begin with \":\""};
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (!HexDigitValue(line[i])) {
            const bool lowerHex = (line[i] >= 'a' && line[i] <= 'f');
            return {std::nullopt, "record: character " + std::to_string(i + 1) +
                                      (lowerHex ? " is a lower-case hex digit; use upper case only"
                                                : " is not a hex digit 0-9 or A-F")};
        }
    }
    // ":" count(2) address(4) type(2) checksum(2), no data: 11 characters.
    if (line.size() < 11 || line.size() % 2 == 0) {
        return {std::nullopt,
                "record: length " + std::to_string(line.size()) +
                    " is not \":\" plus whole bytes of count, address, type and checksum"};
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        // Every character was checked above to be a digit.
        bytes.push_back(
            static_cast<std::uint8_t>(*HexDigitValue(line[i]) * 16 + *HexDigitValue(line[i + 1])));
    }
    HexRecord record;
    record.count = bytes[0];
    record.address = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    record.type = bytes[3];
    record.checksum = bytes.back();
    const std::size_t dataBytes = bytes.size() - 5;
    if (record.count != dataBytes) {
        return {std::nullopt, "byte count: the record says " + std::to_string(record.count) +
                                  " data bytes but holds " + std::to_string(dataBytes)};
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        sum += bytes[i];
    }
    const unsigned expected = (256 - sum % 256) % 256;
    if (record.checksum != expected) {
        return {std::nullopt, "checksum: the record ends in " + Hex(record.checksum, 2) +
                                  ", its bytes need " + Hex(expected, 2)};
    }
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return {std::move(record), {}};
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
    ImageChecker checker(lines);
    return checker.Problems();
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
