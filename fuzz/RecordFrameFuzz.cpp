// Any text as an image line through the pure frame builder. Every frame it calls Sent must
// be one the bootloader can take: ":" N AH AL CS and N data bytes, N a multiple of 8 and at
// most 48, bytes 1 to 4 + N adding up to a multiple of 256. For a well-formed record the
// frame is also checked against the record itself, decoded here on its own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "download/RecordSend.h"

using q218::RecordOutcome;
using q218::fuzz::Require;

namespace {

// The record's bytes when the line is ":" followed only by pairs of upper-case hex digits.
std::optional<std::vector<int>> DecodeRecord(std::string_view line) {
    if (line.empty() || line.front() != ':' || line.size() % 2 == 0) {
        return std::nullopt;
    }
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::vector<int> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        const int high = digit(line[i]);
        const int low = digit(line[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(high * 16 + low);
    }
    return bytes;
}

void CheckFrameShape(const std::vector<std::uint8_t>& frame) {
    Require(frame.size() >= 5, "a frame has its five header bytes");
    Require(frame[0] == 0x3A, "a frame begins with ':'");
    const std::size_t n = frame[1];
    Require(n % 8 == 0 && n <= 48, "N is a multiple of 8 and at most 48");
    Require(frame.size() == 5 + n, "a frame is 5 + N bytes long");
    unsigned sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) {
        sum += frame[i];
    }
    Require(sum % 256 == 0, "bytes 1 to 4 + N add up to a multiple of 256");
    Require(frame[2] < 0x20, "no frame aims at word address 0x2000 or above");
}

// The frame a well-formed record must give, from the record's own bytes.
void CheckAgainstRecord(const std::vector<int>& record, const q218::RecordFrame& built) {
    if (record.size() < 4) {
        return;
    }
    const int count = record[0];
    const int byteAddress = record[1] * 256 + record[2];
    const int wordAddress = byteAddress / 2;
    const int type = record[3];
    if (wordAddress >= 0x2000) {
        Require(built.outcome == RecordOutcome::Skipped, "word address 0x2000 and up is skipped");
        return;
    }
    if (type == 1) {
        Require(built.outcome == RecordOutcome::End, "an end-of-file record ends the transfer");
        return;
    }
    const bool countFits = count % 2 == 0 && count <= 48;
    // The goto check comes first: word address 0 takes one word, whatever the count or data.
    if (wordAddress == 0 && count != 2 && count != 0) {
        Require(built.outcome == RecordOutcome::Rejected, "a long reset vector is refused");
        return;
    }
    if (!countFits || record.size() < 4 + std::size_t(count)) {
        Require(built.outcome == RecordOutcome::Malformed, "a record no frame can carry");
        return;
    }
    if (wordAddress == 0 && count == 2) {
        // The jump to the bootloader in words 0 to 2, the record's own word moved to word 3.
        const std::vector<std::uint8_t> data = {0x15,
                                                0x8A,
                                                0x16,
                                                0x0A,
                                                0x2F,
                                                0x40,
                                                static_cast<std::uint8_t>(record[5]),
                                                static_cast<std::uint8_t>(record[4])};
        Require(built.outcome == RecordOutcome::Sent, "a one-word reset vector is sent");
        Require(std::vector<std::uint8_t>(built.bytes.begin() + 5, built.bytes.end()) == data,
                "the reset vector frame carries the bootloader jump and the moved word");
        return;
    }
    Require(built.outcome == RecordOutcome::Sent, "a data record that fits is sent");
    Require(built.bytes[2] == wordAddress / 256 && built.bytes[3] == wordAddress % 256,
            "the frame carries the word address");
    const std::size_t n = built.bytes[1];
    Require(n == std::size_t((count + 7) / 8 * 8), "the data are filled to a multiple of 8");
    for (std::size_t word = 0; word < n / 2; ++word) {
        const bool fromRecord = word < std::size_t(count / 2);
        const int high = fromRecord ? record[4 + 2 * word + 1] : 0x3F;
        const int low = fromRecord ? record[4 + 2 * word] : 0xFF;
        Require(built.bytes[5 + 2 * word] == high && built.bytes[5 + 2 * word + 1] == low,
                "each word goes high byte first; the fill is the erased word 0x3FFF");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const q218::RecordFrame built = q218::Record_Frame(line);

    if (built.outcome == RecordOutcome::Sent) {
        CheckFrameShape(built.bytes);
    } else {
        Require(built.bytes.empty(), "nothing is written unless a frame is sent");
    }
    const q218::RecordFrame again = q218::Record_Frame(line);
    Require(again.outcome == built.outcome && again.bytes == built.bytes,
            "the same line always gives the same frame");

    if (const std::optional<std::vector<int>> record = DecodeRecord(line)) {
        CheckAgainstRecord(*record, built);
    }
    return 0;
}
