#include "download/HexConvert.h"

#include <cstdint>

#include "image/HexDigit.h"

namespace q218 {

std::int16_t Hex_Convert(std::string_view text) {
    // Unsigned, so that a text too long for 16 bits wraps instead of overflowing; the low
    // 16 bits are the same either way.
    std::uint32_t accumulator = 0;
    for (const char character : text) {
        // The record's digits by the image's one rule; anything else is not refused but counts
        // its own code, so that a text the image never holds still converts as it always has.
        const int digit = HexDigitValue(character).value_or(static_cast<std::uint8_t>(character));
        accumulator = accumulator * 16 + static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(accumulator));
}

}  // namespace q218
