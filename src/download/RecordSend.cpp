#include "download/RecordSend.h"

#include <array>
#include <cstddef>
#include <numeric>
#include <optional>
#include <utility>
#include <variant>

#include "download/HexConvert.h"
#include "download/Messages.h"
#include "image/HexDigit.h"

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
        return HexDigitValue(field[0]) && HexDigitValue(field[1]);
    }

private:
    std::string_view m_text;
};

RecordFrame Outcome(RecordOutcome outcome) {
    return RecordFrame{outcome, {}};
}

// What the record's first fields say about the frame it becomes: the data byte count, the word
// address, and whether it is the reset vector.
struct FrameHead {
    int count = 0;
    int addressHigh = 0;
    int addressLow = 0;
    bool resetVector = false;
};

// Takes the count, the address and the type apart, in the order that decides the outcome; a
// head only for a record that goes out as a frame, the outcome otherwise.
std::variant<FrameHead, RecordOutcome> ReadHead(RecordText& text) {
    // The count and the address's low byte are judged only below the skipped range: a line
    // whose address's high byte puts it at word 0x2000 or above is skipped whatever they hold.
    const std::optional<std::string_view> countField = text.TakeField();
    const std::optional<int> byteAddressHigh = text.TakeByte();
    const std::optional<std::string_view> byteAddressLow = text.TakeField();
    if (!countField || !byteAddressHigh || !byteAddressLow) {
        return RecordOutcome::Malformed;
    }
    FrameHead head;
    // Byte address to word address: halve the 16-bit pair, carrying the high byte's lowest
    // bit into the low byte.
    head.addressHigh = *byteAddressHigh / 2;
    if (head.addressHigh >= kFirstSkippedAddressHigh) {
        return RecordOutcome::Skipped;
    }
    if (!RecordText::IsHexByte(*countField) || !RecordText::IsHexByte(*byteAddressLow)) {
        return RecordOutcome::Malformed;
    }
    head.count = Hex_Convert(*countField);
    head.addressLow = (Hex_Convert(*byteAddressLow) + (*byteAddressHigh % 2) * 256) / 2;

    const std::optional<int> type = text.TakeByte();
    if (!type) {
        return RecordOutcome::Malformed;
    }
    if (*type == kEndOfFileType) {
        return RecordOutcome::End;
    }
    // The goto check comes first: a record at word address 0 must hold exactly the one word
    // of the reset vector, whatever else is wrong with its count.
    head.resetVector = head.addressHigh == 0 && head.addressLow == 0;
    if (head.resetVector && head.count != 2 && head.count != 0) {
        return RecordOutcome::Rejected;
    }
    // Every other type (data, and the extended address record at address 0) goes out as data.
    if (head.count % 2 != 0 || head.count > kFrameDataMax) {
        return RecordOutcome::Malformed;
    }
    return head;
}

// The record's `count` data bytes as the frame carries them: each word high byte first (the
// record holds it low byte first). Nothing when the line ends early or a field is no byte.
std::optional<std::vector<std::uint8_t>> ReadWords(RecordText& text, int count) {
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count / 2; ++k) {
        const std::optional<int> low = text.TakeByte();
        const std::optional<int> high = text.TakeByte();
        if (!low || !high) {
            return std::nullopt;
        }
        data.push_back(static_cast<std::uint8_t>(*high));
        data.push_back(static_cast<std::uint8_t>(*low));
    }
    return data;
}

// The reset vector's one word moves to word 3, behind the jump into the bootloader: the
// device keeps starting in its bootloader, which runs word 3 to start the application.
void RewriteResetVector(std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> rewritten;
    for (const std::string_view field : kBootloaderJump) {
        rewritten.push_back(static_cast<std::uint8_t>(Hex_Convert(field)));
    }
    rewritten.insert(rewritten.end(), data.begin(), data.end());
    data = std::move(rewritten);
}

}  // namespace

RecordFrame Record_Frame(std::string_view line) {
    if (line.empty() || line.front() != kRecordStart) {
        return Outcome(RecordOutcome::Malformed);
    }
    RecordText text(line.substr(1));
    const std::variant<FrameHead, RecordOutcome> read = ReadHead(text);
    if (const RecordOutcome* outcome = std::get_if<RecordOutcome>(&read)) {
        return Outcome(*outcome);
    }
    const FrameHead& head = std::get<FrameHead>(read);
    std::optional<std::vector<std::uint8_t>> data = ReadWords(text, head.count);
    if (!data) {
        return Outcome(RecordOutcome::Malformed);
    }
    if (head.resetVector && !data->empty()) {
        RewriteResetVector(*data);
    }
    while (data->size() % kFrameMultiple != 0) {
        data->push_back(kErasedHigh);
        data->push_back(kErasedLow);
    }

    const auto length = static_cast<std::uint8_t>(data->size());
    const auto addressHigh = static_cast<std::uint8_t>(head.addressHigh);
    const auto addressLow = static_cast<std::uint8_t>(head.addressLow);
    const int sum = std::accumulate(data->begin(), data->end(), length + addressHigh + addressLow);
    const auto checksum = static_cast<std::uint8_t>((256 - sum % 256) % 256);

    RecordFrame frame{RecordOutcome::Sent,
                      {kFrameStart, length, addressHigh, addressLow, checksum}};
    frame.bytes.insert(frame.bytes.end(), data->begin(), data->end());
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
