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

std::size_t SerialIndexOf(const std::vector<std::string>& lines) {
    std::size_t index = 0;
    while (index < lines.size() && !lines[index].starts_with(":103E00008207")) {
        ++index;
    }
    return index;
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
