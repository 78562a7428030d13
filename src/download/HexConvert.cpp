#include "download/HexConvert.h"

#include <cstdint>

namespace q218 {

std::int16_t Hex_Convert(std::string_view text) {
    // Unsigned, so that a text too long for 16 bits wraps instead of overflowing; the low
    // 16 bits are the same either way.
    std::uint32_t accumulator = 0;
    for (const char character : text) {
        const std::uint32_t code = static_cast<std::uint8_t>(character);
        std::uint32_t digit = code;  // anything that is not a digit counts its own code
        if (code >= 'A' && code <= 'F') {
            digit = code - 'A' + 10;
        } else if (code >= '0' && code <= '9') {
            digit = code - '0';
        }
        accumulator = accumulator * 16 + digit;
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(accumulator));
}

}  // namespace q218
