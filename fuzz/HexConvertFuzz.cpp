// Any text through the hexadecimal conversion: no overflow or other undefined behaviour for
// long texts, and upper-case hex digits read as the number they spell.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "download/HexConvert.h"

using q218::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::int16_t value = q218::Hex_Convert(text);

    const bool upperHexOnly = text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
    if (upperHexOnly && !text.empty() && text.size() <= 8) {
        // Up to eight digits fit 32 bits; the result keeps the low 16 of them.
        std::uint32_t expected = 0;
        const auto parsed = std::from_chars(text.data(), text.data() + text.size(), expected, 16);
        Require(parsed.ec == std::errc() && parsed.ptr == text.data() + text.size(),
                "the reference reads every digit");
        Require(static_cast<std::uint16_t>(value) == static_cast<std::uint16_t>(expected),
                "upper-case hex digits give the number they spell, kept to 16 bits");
    }
    if (text.size() == 2) {
        // What the record step passes: any two characters stay within 0 to 255 * 17.
        Require(value >= 0 && value <= 255 * 16 + 255, "two characters give at most 4335");
    }
    return 0;
}
