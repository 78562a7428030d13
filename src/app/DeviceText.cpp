#include "app/DeviceText.h"

#include <cstdio>

namespace q218 {

namespace {

void AppendUtf8(std::string& text, unsigned char byte) {
    if (byte < 0x80) {
        text.push_back(static_cast<char>(byte));
        return;
    }
    text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
    text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

// Bytes as text, `escape` telling which bytes are shown as \xHH.
template <typename Escape>
std::string Shown(std::string_view bytes, Escape escape) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            text += "\\\\";
        } else if (escape(byte)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        } else {
            AppendUtf8(text, byte);
        }
    }
    return text;
}

}  // namespace

std::string Visible(std::string_view bytes) {
    return Shown(bytes, [](unsigned char byte) { return IsControlCharacter(byte); });
}

std::string VisibleAscii(std::string_view bytes) {
    return Shown(bytes, [](unsigned char byte) { return IsControlCharacter(byte) || byte > 0x7E; });
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        AppendUtf8(text, static_cast<unsigned char>(c));
    }
    return text;
}

}  // namespace q218
