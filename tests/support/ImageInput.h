#pragma once
// The firmware image's input file as the tests read it, apart from the updater's own code:
// the values of the payload (its revision, date and line count) come from here, so that a
// replaced payload leaves every test meaningful.

#include <cstddef>
#include <string>
#include <vector>

namespace q218::test {

// The image input file as lines (tag line first).
std::vector<std::string> ReadImageInput();

// The tag fields of `lines`: marker, model, revision, date.
std::vector<std::string> TagFieldsOf(const std::vector<std::string>& lines);

// The index of the first line that begins with the serial record's prefix ":103E00008207",
// or the size of `lines` when none does.
std::size_t SerialIndexOf(const std::vector<std::string>& lines);

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
