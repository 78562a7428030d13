#pragma once
// Device bytes as text a terminal or a log can show safely. Whatever a device sends (its
// serial number, model, revision and date fields, a reply quoted in an error, the character
// its bootloader answered) is data: a control byte in it must not clear the screen, move the
// cursor or set the clipboard. Pure; no Qt.

#include <string>
#include <string_view>

namespace q218 {

// `bytes` decoded as Latin-1 (one byte, one character: a NUL does not cut the text and a
// byte of 0x80 or above is never taken as part of a UTF-8 sequence), returned as UTF-8 with
// every control character made visible: C0 (ESC too), DEL and C1 as \xHH, and the backslash
// itself as \\, so that the shown text maps back to the bytes without doubt.
std::string Visible(std::string_view bytes);

// The same for a terminal, whose character set the program cannot know: every byte outside
// printable ASCII as \xHH, the backslash as \\. A Latin-1 letter re-encoded as UTF-8 would
// put bytes 0x80 to 0x9F on a terminal that reads Latin-1, and those are C1 controls there
// (0x9B starts a control sequence).
std::string VisibleAscii(std::string_view bytes);

// C0 (ESC too), DEL and C1: the characters Visible shows as \xHH, for any text that reaches
// a terminal from outside the program.
constexpr bool IsControlCharacter(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// `bytes` decoded as Latin-1 into UTF-8, unchanged otherwise: for a JSON string, whose
// writer escapes the control characters as JSON does (\u001b).
std::string Latin1ToUtf8(std::string_view bytes);

}  // namespace q218
