#pragma once
// A decoder for the tests, written apart from the library's so that a fault in one is not
// mirrored by the other.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace q218::test {

struct DecodedRecord {
    unsigned count = 0;
    unsigned address = 0;  // byte address
    unsigned type = 0;
    std::vector<std::uint8_t> data;
    unsigned byteSum = 0;  // every byte from count to checksum
};

// nullopt unless `line` is ":" and an even number of upper-case hex digits whose count byte
// matches the data.
std::optional<DecodedRecord> Decode(const std::string& line);

// Program words of every data record, low byte first, keyed by word address.
std::map<unsigned, unsigned> WordsOf(const std::vector<std::string>& lines);

}  // namespace q218::test
