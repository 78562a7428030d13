#pragma once
// What the device's program memory must hold after an update, worked out from the image's
// input text independently of the updater's code: each record the bootloader is sent
// overwrites whole groups of four words (the short ones padded with erased words), the record
// at word 0 lands behind the three-word jump to the bootloader, the serial-number record
// carries the serial digits, and nothing at word 0x2000 or above (the configuration word) is
// ever sent.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/ImageInput.h"

namespace q218::test {

inline constexpr std::uint16_t kProgramWords = 0x2000;

// Program words 0x0000 to 0x1FFF and the configuration word 0x2007.
struct Memory {
    std::vector<std::uint16_t> words = std::vector<std::uint16_t>(kProgramWords, 0x3FFF);
    std::uint16_t config = 0x3FFF;
};

// The words one frame writes, from word address `first` on.
struct WrittenBlock {
    std::uint16_t first = 0;
    std::vector<std::uint16_t> words;
};

// One block per record the bootloader is sent, in sending order, with `serial` (six digits)
// in the identification table; an empty `serial` leaves the table as the lines carry it.
std::vector<WrittenBlock> BlocksOfUpdate(const std::vector<std::string>& lines,
                                         std::string_view serial = {});

// Every program word a whole update of `lines` writes, by word address.
std::map<std::uint32_t, std::uint16_t> ProgramWords(const std::vector<std::string>& lines,
                                                    std::string_view serial = {});

// `before` with the first `count` blocks written.
Memory AfterBlocks(Memory before, const std::vector<WrittenBlock>& blocks,
                   std::size_t count = SIZE_MAX);

// "word 0x0123: 0x3FFF, expected 0x2806" for each difference (at most `limit` of them), and
// the number of differences.
struct MemoryDifference {
    std::size_t count = 0;
    std::string firstFew;
};
MemoryDifference Compare(const Memory& actual, const Memory& expected, std::size_t limit = 8);

}  // namespace q218::test
