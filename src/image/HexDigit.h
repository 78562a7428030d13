#pragma once
// The hex digits of the image's Intel HEX records and of the bootloader's frames: "0"-"9" and
// "A"-"F". Lower case is not a digit here: the image is written in upper case, and the
// download's conversion would read "a" as its character code, not as ten.

#include <optional>

namespace q218 {

// The value of an upper-case hex digit, or nothing for any other character.
[[nodiscard]] constexpr std::optional<int> HexDigitValue(char character) {
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    return std::nullopt;
}

}  // namespace q218
