#include "download/RecordSend.h"

#include <array>
#include <cstddef>
#include <optional>

#include "download/HexConvert.h"

namespace q218 {

namespace {

inline constexpr char kRecordStart = ':';          // every Intel HEX record begins with it
inline constexpr std::uint8_t kFrameStart = 0x3A;  // ":" opens every bootloader frame
inline constexpr int kEndOfFileType = 1;
inline constexpr int kFrameDataMax = 48;  // the bootloader's frame buffer, in bytes
inline constexpr int kFrameMultiple = 8;  // frames carry whole rows of four words
// Word address 0x2000 and above (configuration word, ID locations) is not program memory
// the bootloader writes; the high byte of the word address says so on its own.
inline constexpr int kFirstSkippedAddressHigh = 0x20;
// The erased program word 0x3FFF, high byte first, fills a frame to a multiple of 8 bytes.
inline constexpr std::uint8_t kErasedHigh = 0x3F;
inline constexpr std::uint8_t kErasedLow = 0xFF;
// Written into words 0 to 2 in place of the image's reset vector: BSF PCLATH,3;
// BSF PCLATH,4; GOTO 0x740, a jump to word 0x1F40 where the bootloader lives. The image's
// own first word moves to word 3, which the bootloader runs when it starts the application.
inline constexpr std::array<std::string_view, 6> kBootloaderJump = {"15", "8A", "16",
                                                                    "0A", "2F", "40"};

bool IsHexDigit(char character) {
    return (character >= '0' && character <= '9') || (character >= 'A' && character <= 'F');
}

// The line without its ":", consumed from the left two characters at a time.
class RecordText {
public:
    explicit RecordText(std::string_view text) : m_text(text) {}

    // The next two characters, or nothing when fewer are left.
    std::optional<std::string_view> TakeField() {
        if (m_text.size() < 2) {
            return std::nullopt;
        }
        const std::string_view field = m_text.substr(0, 2);
        m_text.remove_prefix(2);
        return field;
    }

    // The next byte field, or nothing when it is missing or either character is not an
    // upper-case hex digit (the conversion would then give a value above 255).
    std::optional<int> TakeByte() {
        const std::optional<std::string_view> field = TakeField();
        if (!field || !IsHexByte(*field)) {
            return std::nullopt;
        }
        return Hex_Convert(*field);
    }

    static bool IsHexByte(std::string_view field) {
        return IsHexDigit(field[0]) && IsHexDigit(field[1]);
    }

private:
    std::string_view m_text;
};

RecordFrame Outcome(RecordOutcome outcome) {
    return RecordFrame{outcome, {}};
}

}  // namespace

RecordFrame Record_Frame(std::string_view line) {
    if (line.empty() || line.front() != kRecordStart) {
        return Outcome(RecordOutcome::Malformed);
    }
    RecordText text(line.substr(1));

    // The count and the address's low byte are judged only below the skipped range: a line
    // whose address's high byte puts it at word 0x2000 or above is skipped whatever they hold.
    const std::optional<std::string_view> countField = text.TakeField();
    const std::optional<int> byteAddressHigh = text.TakeByte();
    const std::optional<std::string_view> byteAddressLow = text.TakeField();
    if (!countField || !byteAddressHigh || !byteAddressLow) {
        return Outcome(RecordOutcome::Malformed);
    }
    // Byte address to word address: halve the 16-bit pair, carrying the high byte's lowest
    // bit into the low byte.
    const int addressHigh = *byteAddressHigh / 2;
    if (addressHigh >= kFirstSkippedAddressHigh) {
        return Outcome(RecordOutcome::Skipped);
    }
    if (!RecordText::IsHexByte(*countField) || !RecordText::IsHexByte(*byteAddressLow)) {
        return Outcome(RecordOutcome::Malformed);
    }
    int count = Hex_Convert(*countField);
    int pad = 0;
    while ((count + pad) % kFrameMultiple != 0) {
        ++pad;
    }
    const int addressLow = (Hex_Convert(*byteAddressLow) + (*byteAddressHigh % 2) * 256) / 2;

    const std::optional<int> type = text.TakeByte();
    if (!type) {
        return Outcome(RecordOutcome::Malformed);
    }
    if (*type == kEndOfFileType) {
        return Outcome(RecordOutcome::End);
    }
    // The goto check comes first: a record at word address 0 must hold exactly the one word
    // of the reset vector, whatever else is wrong with its count.
    const bool resetVector = addressHigh == 0 && addressLow == 0;
    if (resetVector && count != 2 && count != 0) {
        return Outcome(RecordOutcome::Rejected);
    }
    // Every other type (data, and the extended address record at address 0) goes out as data.
    if (count % 2 != 0 || count > kFrameDataMax) {
        return Outcome(RecordOutcome::Malformed);
    }

    // Entry 2k is the high byte and 2k+1 the low byte of the frame's k-th word.
    std::array<int, kFrameDataMax> entries{};
    int sum = count + pad + addressHigh + addressLow;
    const int words = count / 2;  // fixed here: the goto check changes count, not the loop
    for (int k = 0; k < words; ++k) {
        const std::optional<int> low = text.TakeByte();  // the record holds each word low first
        const std::optional<int> high = text.TakeByte();
        if (!low || !high) {
            return Outcome(RecordOutcome::Malformed);
        }
        entries[2 * k + 1] = *low;
        entries[2 * k] = *high;
        if (resetVector) {
            // The reset vector's one word moves to word 3.
            entries[6] = entries[0];
            entries[7] = entries[1];
            for (std::size_t i = 0; i < kBootloaderJump.size(); ++i) {
                entries[i] = Hex_Convert(kBootloaderJump[i]);
            }
            sum += entries[2] + entries[3] + entries[4] + entries[5] + entries[6] + entries[7];
            pad = 0;
            count = 8;
        }
        sum += entries[2 * k] + entries[2 * k + 1];
    }
    for (int k = count / 2; k < count / 2 + pad / 2; ++k) {
        entries[2 * k] = kErasedHigh;
        entries[2 * k + 1] = kErasedLow;
        sum += kErasedHigh + kErasedLow;
    }
    const int checksum = (256 - sum % 256) % 256;

    RecordFrame frame{RecordOutcome::Sent, {}};
    frame.bytes.reserve(5 + static_cast<std::size_t>(count + pad));
    frame.bytes.push_back(kFrameStart);
    for (const int value : {count + pad, addressHigh, addressLow, checksum}) {
        frame.bytes.push_back(static_cast<std::uint8_t>(value));
    }
    for (int i = 0; i < count + pad; ++i) {
        frame.bytes.push_back(static_cast<std::uint8_t>(entries[i]));
    }
    return frame;
}

RecordOutcome Record_Send(LinkContext& context, std::string_view line) {
    const RecordFrame frame = Record_Frame(line);
    if (frame.outcome == RecordOutcome::Rejected) {
        context.view.ShowMessageBox(kGotoMessage);
    }
    // One Output, a one-character text, per byte of the frame.
    for (const std::uint8_t byte : frame.bytes) {
        const char character = static_cast<char>(byte);
        context.link.Output(std::string_view(&character, 1));
    }
    return frame.outcome;
}

}  // namespace q218
