#include "ExpectedMemory.h"

#include <cstdio>

namespace q218::test {

namespace {

// The three words the reset vector is rewritten to: BSF PCLATH,3; BSF PCLATH,4; GOTO 0x740,
// a jump to the bootloader at word 0x1F40. The record's own word moves to word 3.
constexpr std::uint16_t kJump[3] = {0x158A, 0x160A, 0x2F40};
constexpr std::uint16_t kErased = 0x3FFF;
constexpr std::size_t kWordsPerGroup = 4;            // frames carry multiples of 8 bytes
constexpr std::uint16_t kSerialRecordWord = 0x1F00;  // ADDWF PCL,F, then RETLW per character
constexpr std::uint16_t kRetlw = 0x3400;

std::uint8_t HexByte(const std::string& line, std::size_t at) {
    return static_cast<std::uint8_t>(std::stoul(line.substr(at, 2), nullptr, 16));
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

}  // namespace

std::vector<WrittenBlock> BlocksOfUpdate(const std::vector<std::string>& lines,
                                         std::string_view serial) {
    std::vector<WrittenBlock> blocks;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] != ':') {
            continue;
        }
        const std::size_t count = HexByte(line, 1);
        const unsigned address = (HexByte(line, 3) << 8) | HexByte(line, 5);
        const std::uint8_t type = HexByte(line, 7);
        if (type == 1) {
            break;  // end of file: ":" "S" follow, nothing is written
        }
        const unsigned firstWord = address / 2;
        if (firstWord >= kProgramWords) {
            continue;  // the configuration word is never sent
        }
        WrittenBlock block{static_cast<std::uint16_t>(firstWord), {}};
        for (std::size_t i = 0; i + 1 < count; i += 2) {
            const std::uint8_t low = HexByte(line, 9 + 2 * i);
            const std::uint8_t high = HexByte(line, 11 + 2 * i);
            block.words.push_back(static_cast<std::uint16_t>((high << 8) | low));
        }
        if (firstWord == 0) {
            block.words = {kJump[0], kJump[1], kJump[2], block.words.at(0)};
        }
        if (firstWord == kSerialRecordWord && !serial.empty()) {
            for (std::size_t i = 0; i < 6; ++i) {
                block.words.at(1 + i) =
                    static_cast<std::uint16_t>(kRetlw | static_cast<std::uint8_t>(serial.at(i)));
            }
        }
        while (block.words.size() % kWordsPerGroup != 0) {
            block.words.push_back(kErased);
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

std::map<std::uint32_t, std::uint16_t> ProgramWords(const std::vector<std::string>& lines,
                                                    std::string_view serial) {
    std::map<std::uint32_t, std::uint16_t> words;
    for (const WrittenBlock& block : BlocksOfUpdate(lines, serial)) {
        for (std::size_t i = 0; i < block.words.size(); ++i) {
            words[block.first + static_cast<std::uint32_t>(i)] = block.words[i] & 0x3FFF;
        }
    }
    return words;
}

Memory AfterBlocks(Memory before, const std::vector<WrittenBlock>& blocks, std::size_t count) {
    for (std::size_t b = 0; b < count && b < blocks.size(); ++b) {
        for (std::size_t i = 0; i < blocks[b].words.size(); ++i) {
            before.words.at(blocks[b].first + i) = blocks[b].words[i] & 0x3FFF;
        }
    }
    return before;
}

MemoryDifference Compare(const Memory& actual, const Memory& expected, std::size_t limit) {
    MemoryDifference difference;
    const auto note = [&](unsigned address, unsigned got, unsigned want) {
        if (difference.count++ < limit) {
            difference.firstFew +=
                "word " + Hex4(address) + ": " + Hex4(got) + ", expected " + Hex4(want) + "\n";
        }
    };
    for (std::size_t a = 0; a < kProgramWords; ++a) {
        if (actual.words[a] != expected.words[a]) {
            note(static_cast<unsigned>(a), actual.words[a], expected.words[a]);
        }
    }
    if (actual.config != expected.config) {
        note(0x2007, actual.config, expected.config);
    }
    return difference;
}

}  // namespace q218::test
