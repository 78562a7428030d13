#pragma once
// The firmware image the updater carries: a tag line and Intel HEX records, compiled in from
// the build-time input src/image/q218-firmware.txt. These are pure operations on the list;
// the window logic does the Text3/Text4 reads and writes around them.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace q218 {

// Program-wide, zero-based list of text lines.
using FirmwareImage = std::vector<std::string>;

// The tag line, the address record, 367 data records and the end record.
inline constexpr std::size_t kImageLineCount = 370;

// The first 13 characters of the serial-number record: byte count 0x10, address 0x3E00, data,
// then the word 0x0782 (ADDWF PCL,F) at word 0x1F00. A patched record keeps them, so every
// later patch finds the same line again.
inline constexpr std::string_view kSerialRecordPrefix = ":103E00008207";

// The serial-number record as built, for the placeholder digits "000000".
inline constexpr std::string_view kSerialPlaceholder =
    ":103E0000820730343034303430343034303420347D";

// Exactly one character, NUL: replaces every line that is not a record; the download drops
// every line containing NUL. It is not the empty text.
inline const std::string kMarkerText(1, '\0');

// A line the download drops: one that contains NUL.
inline bool IsMarked(std::string_view line) {
    return line.find('\0') != std::string_view::npos;
}

// The "_"-separated pieces of the tag line: marker, model, revision, date; slots 4 and 5
// stay empty for this tag.
using TagFields = std::array<std::string, 6>;

// The tag's pieces by name: what the image carries (model, revision, date).
struct ImageTag {
    std::string model;
    std::string revision;
    std::string date;
};
inline ImageTag TagOf(const TagFields& fields) {
    return {fields[1], fields[2], fields[3]};
}

// The 370 lines as compiled in; discards nothing else, touches nothing else.
FirmwareImage Image_Build();

// What Tag_Read found: the version line for Text3 (model, two spaces, revision, two spaces,
// date; four spaces without a tag) and the tag's pieces.
struct TagReading {
    std::string versionLine;
    TagFields fields;
};

// Marks every non-record line (empty, or not beginning with ":") and splits the last line that
// begins with ".DORVANE" into its fields at each "_". A tag of more than six pieces keeps the
// first six; slots that get no piece stay empty.
[[nodiscard]] TagReading Tag_Read(FirmwareImage& image);

enum class PatchResult {
    Replaced,   // the serial record now carries the six digits
    NotDigits,  // fewer than six characters or a non-digit among the first six: nothing changed
    NoRecord,   // six digits, but no line begins with the serial-record prefix
};

// The 43-character serial record for the first six characters of `text`, or empty when they
// are not six decimal digits.
std::string SerialRecordFor(std::string_view text);

// Replaces the first line that begins with ":103E00008207" by the record for the first six
// characters of `text4`.
[[nodiscard]] PatchResult Serial_Patch(FirmwareImage& image, std::string_view text4);

}  // namespace q218
