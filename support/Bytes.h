#pragma once
// Test helpers that let expectations read like the byte tables: Bytes("3A 08 00 00") as the
// frame builder's byte vector, ByteText("3A 08 00 00") as the characters a line carries, and
// Hex() the reverse, for readable failure messages.

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace q218::test {

// Space-separated hexadecimal byte values, e.g. "3A 08 00 00 CA".
inline std::vector<std::uint8_t> Bytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::istringstream stream{std::string(text)};
    std::string token;
    while (stream >> token) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return bytes;
}

inline std::string ByteText(std::string_view text) {
    const std::vector<std::uint8_t> bytes = Bytes(text);
    return {bytes.begin(), bytes.end()};
}

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char buffer[4];
        std::snprintf(buffer, sizeof buffer, "%02X ", byte);
        text += buffer;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

}  // namespace q218::test
