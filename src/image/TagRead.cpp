#include <cstddef>
#include <string>
#include <string_view>

#include "image/FirmwareImage.h"

namespace q218 {

namespace {

constexpr std::string_view kTagMarker = ".DORVANE";
constexpr char kFieldSeparator = '_';
constexpr std::string_view kVersionSeparator = "  ";

}  // namespace

TagReading Tag_Read(FirmwareImage& image) {
    TagReading reading;
    TagFields& fields = reading.fields;
    std::string tag;
    for (std::string& line : image) {
        // starts_with compares a shorter line whole, so it cannot match.
        if (line.starts_with(kTagMarker)) {
            tag = line;  // the last tag line wins
        }
        if (line.empty() || line.front() != ':') {
            line = kMarkerText;
        }
    }

    // Each "_" closes one piece; the text after the last one is the final piece. A tag with
    // more pieces than slots keeps the first six and drops the rest.
    std::size_t slot = 0;
    std::string_view rest = tag;
    while (slot < fields.size()) {
        const std::size_t separator = rest.find(kFieldSeparator);
        if (separator == std::string_view::npos) {
            fields[slot] = std::string(rest);
            break;
        }
        fields[slot] = std::string(rest.substr(0, separator));
        rest.remove_prefix(separator + 1);
        ++slot;
    }

    std::string& version = reading.versionLine;
    version = fields[1];
    version += kVersionSeparator;
    version += fields[2];
    version += kVersionSeparator;
    version += fields[3];
    return reading;
}

}  // namespace q218
