#pragma once
// The firmware image's input file as the tests read it, apart from the updater's own code:
// the values of the payload (its revision, date and line count) come from here, so that a
// replaced payload leaves every test meaningful.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace q218::test {

// The image input file as lines (tag line first).
std::vector<std::string> ReadImageInput();

// The tag fields of `lines`: marker, model, revision, date.
std::vector<std::string> TagFieldsOf(const std::vector<std::string>& lines);

// The index of the first line that begins with `prefix`, or the size of `lines` when none
// does.
std::size_t IndexStartingWith(const std::vector<std::string>& lines, std::string_view prefix);
// The serial record's line: the first that begins with ":103E00008207".
std::size_t SerialIndexOf(const std::vector<std::string>& lines);
// The reset-vector record's line: the one-word data record at address 0000.
std::size_t ResetVectorIndexOf(const std::vector<std::string>& lines);
// The program word the input's reset-vector record holds; the update moves it to word 3.
std::uint16_t InputResetWord();

// What the image input's tag names.
struct PayloadTag {
    std::string model;
    std::string revision;
    std::string date;

    // The image line: model, revision and date two blanks apart.
    std::string VersionLine() const;
    // The identification reply of a device that runs this firmware with `serial`.
    std::string Identification(const std::string& serial) const;
};
const PayloadTag& InputTag();

}  // namespace q218::test
