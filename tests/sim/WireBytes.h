#pragma once
// Test helpers that spell bytes the way the wire tables do.

#include <cstdint>
#include <string>
#include <string_view>

namespace q218::test {

// "3A 08 00 00" -> the four bytes; spaces are ignored.
inline std::string Bytes(std::string_view hex) {
    std::string bytes;
    int pending = -1;
    for (char c : hex) {
        int value = -1;
        if (c >= '0' && c <= '9')
            value = c - '0';
        if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        if (value < 0)
            continue;
        if (pending < 0) {
            pending = value;
        } else {
            bytes.push_back(static_cast<char>(pending * 16 + value));
            pending = -1;
        }
    }
    return bytes;
}

}  // namespace q218::test
