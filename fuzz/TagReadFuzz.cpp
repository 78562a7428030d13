// Any text, cut into lines at '\n', as the image that the tag reading marks and splits:
// record lines stay as they are, every other line becomes the one-character NUL marker, and
// the version line is built from the last tag line's "_"-separated pieces.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "image/FirmwareImage.h"

using q218::fuzz::Require;

namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        pieces.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = Split(text, '\n');
    q218::FirmwareImage image(lines.begin(), lines.end());
    const auto [version, fields] = q218::Tag_Read(image);

    Require(image.size() == lines.size(), "no line is added or removed");
    std::string tag;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool record = !lines[i].empty() && lines[i].front() == ':';
        Require(image[i] == (record ? lines[i] : q218::kMarkerText),
                "a record stays, every other line becomes the marker");
        if (lines[i].starts_with(".DORVANE")) {
            tag = lines[i];  // the last tag line wins
        }
    }

    const std::vector<std::string> pieces = Split(tag, '_');
    const std::size_t filled = std::min(pieces.size(), fields.size());
    for (std::size_t slot = 0; slot < fields.size(); ++slot) {
        Require(fields[slot] == (slot < filled ? pieces[slot] : std::string()),
                "slot k holds the tag's k-th piece");
    }
    Require(version == fields[1] + "  " + fields[2] + "  " + fields[3],
            "the version line is model, revision and date, two spaces apart");
    return 0;
}
