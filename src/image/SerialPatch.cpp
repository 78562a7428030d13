#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "image/FirmwareImage.h"

namespace q218 {

namespace {

constexpr std::size_t kSerialDigits = 6;

// The bytes of the record that do not depend on the digits: byte count 0x10, address 0x3E00,
// type 00, word 0x0782, six times the RETLW opcode 0x34, then RETLW 0x20 (0x20, 0x34). Each
// digit adds its character code, 0x30 plus its value, so the byte sum is 899 plus the digit
// sum and the checksum is 1024 - 899 - digit sum: 0x7D for "000000" down to 0x47 for "999999".
constexpr int kChecksumBase = 125;

constexpr std::string_view kDigitOpcode = "34";  // RETLW, high byte of each digit's word
constexpr std::string_view kSpaceWord = "2034";  // RETLW ' ', low byte first

}  // namespace

std::string SerialRecordFor(std::string_view text) {
    if (text.size() < kSerialDigits) {
        return {};
    }
    int digitSum = 0;
    for (std::size_t i = 0; i < kSerialDigits; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return {};
        }
        digitSum += text[i] - '0';
    }

    std::string record(kSerialRecordPrefix);
    char hex[3];
    for (std::size_t i = 0; i < kSerialDigits; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(text[i]));
        record += hex;
        record += kDigitOpcode;
    }
    record += kSpaceWord;
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(kChecksumBase - digitSum));
    record += hex;
    return record;
}

PatchResult Serial_Patch(FirmwareImage& image, std::string_view text4) {
    const std::string record = SerialRecordFor(text4);
    if (record.empty()) {
        return PatchResult::NotDigits;
    }
    for (std::string& line : image) {
        if (line.starts_with(kSerialRecordPrefix)) {
            line = record;
            return PatchResult::Replaced;
        }
    }
    return PatchResult::NoRecord;
}

}  // namespace q218
