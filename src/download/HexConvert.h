#pragma once

#include <cstdint>
#include <string_view>

namespace q218 {

// Reads `text` as a base-16 number, most significant digit first. Only "0"-"9" and "A"-"F"
// are digits; any other character counts its own code (lower-case "a" is 97). The result
// wraps to 16 bits.
std::int16_t Hex_Convert(std::string_view text);

}  // namespace q218
