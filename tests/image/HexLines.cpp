#include "HexLines.h"

namespace q218::test {

std::optional<DecodedRecord> Decode(const std::string& line) {
    if (line.size() < 11 || line[0] != ':' || line.size() % 2 == 0) {
        return std::nullopt;
    }
    std::vector<unsigned> bytes;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const std::string pair = line.substr(i, 2);
        if (pair.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<unsigned>(std::stoul(pair, nullptr, 16)));
    }
    DecodedRecord record;
    record.count = bytes[0];
    record.address = bytes[1] * 256 + bytes[2];
    record.type = bytes[3];
    if (record.count != bytes.size() - 5) {
        return std::nullopt;
    }
    for (std::size_t i = 4; i + 1 < bytes.size(); ++i) {
        record.data.push_back(static_cast<std::uint8_t>(bytes[i]));
    }
    for (unsigned b : bytes) {
        record.byteSum += b;
    }
    return record;
}

std::map<unsigned, unsigned> WordsOf(const std::vector<std::string>& lines) {
    std::map<unsigned, unsigned> words;
    for (const std::string& line : lines) {
        const std::optional<DecodedRecord> record = Decode(line);
        if (!record || record->type != 0) {
            continue;
        }
        for (std::size_t i = 0; i + 1 < record->data.size(); i += 2) {
            words[static_cast<unsigned>((record->address + i) / 2)] =
                record->data[i] | record->data[i + 1] << 8;
        }
    }
    return words;
}

}  // namespace q218::test
