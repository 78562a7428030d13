#include "support/ImageInput.h"

#include <fstream>
#include <stdexcept>

namespace q218::test {

std::vector<std::string> ReadImageInput() {
    std::ifstream file(Q218_FIRMWARE_INPUT);
    if (!file) {
        throw std::runtime_error("cannot read " + std::string(Q218_FIRMWARE_INPUT));
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TagFieldsOf(const std::vector<std::string>& lines) {
    std::vector<std::string> fields;
    for (const std::string& line : lines) {
        if (line.rfind(".DORVANE", 0) == 0) {
            fields.clear();
            std::size_t start = 0;
            for (std::size_t us = line.find('_'); us != std::string::npos;
                 us = line.find('_', start)) {
                fields.push_back(line.substr(start, us - start));
                start = us + 1;
            }
            fields.push_back(line.substr(start));
        }
    }
    return fields;
}

std::size_t IndexStartingWith(const std::vector<std::string>& lines, std::string_view prefix) {
    std::size_t index = 0;
    while (index < lines.size() && !lines[index].starts_with(prefix)) {
        ++index;
    }
    return index;
}

std::size_t SerialIndexOf(const std::vector<std::string>& lines) {
    return IndexStartingWith(lines, ":103E00008207");
}

std::size_t ResetVectorIndexOf(const std::vector<std::string>& lines) {
    // Byte count 02, address 0000, type 00.
    return IndexStartingWith(lines, ":02000000");
}

std::uint16_t InputResetWord() {
    const std::vector<std::string> lines = ReadImageInput();
    const std::size_t index = ResetVectorIndexOf(lines);
    if (index == lines.size()) {
        throw std::runtime_error("the image input has no reset-vector record");
    }
    // The record holds the word low byte first: ":02000000" LL HH checksum.
    const std::string& line = lines[index];
    const auto byteAt = [&line](std::size_t at) {
        return static_cast<std::uint16_t>(std::stoi(line.substr(at, 2), nullptr, 16));
    };
    return static_cast<std::uint16_t>(byteAt(11) << 8 | byteAt(9));
}

std::string PayloadTag::VersionLine() const {
    return model + "  " + revision + "  " + date;
}

std::string PayloadTag::Identification(const std::string& serial) const {
    return serial + " " + model + " " + revision + " " + date + " \r";
}

const PayloadTag& InputTag() {
    static const PayloadTag tag = [] {
        const std::vector<std::string> fields = TagFieldsOf(ReadImageInput());
        if (fields.size() != 4) {
            throw std::runtime_error("the image input's tag line does not have four fields");
        }
        return PayloadTag{fields[1], fields[2], fields[3]};
    }();
    return tag;
}

}  // namespace q218::test
