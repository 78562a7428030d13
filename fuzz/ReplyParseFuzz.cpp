// Any bytes as the device's identification reply: the parse must neither crash nor read
// outside the reply, and its fields must be the reply's space-ended pieces.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "link/Identification.h"

using q218::fuzz::Require;

namespace {

// The reply cut at every space; the text after the last space is no piece.
std::vector<std::string> SpaceEndedPieces(std::string_view reply) {
    std::vector<std::string> pieces;
    std::string current;
    for (const char character : reply) {
        if (character == ' ') {
            pieces.push_back(current);
            current.clear();
        } else {
            current += character;
        }
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    // An earlier reply's fields, which a shorter reply must leave in place.
    const q218::ReplyFields before = {"prev-ser", "prev-mod", "prev-rev", "prev-dat", "prev-5"};
    q218::ReplyFields fields = before;
    const q218::ReplyForm form = q218::ParseReply(reply, fields);

    if (reply.starts_with("Q218")) {
        Require(form == q218::ReplyForm::Short, "a reply beginning with Q218 is the short form");
        Require(fields[0].empty() && fields[1] == "Q218" && fields[2].empty() && fields[3].empty(),
                "the short form is model Q218 with empty serial, revision and date");
        Require(fields[4] == before[4], "the short form leaves field 5 alone");
        return 0;
    }

    const std::vector<std::string> pieces = SpaceEndedPieces(reply);
    if (pieces.size() > fields.size()) {
        Require(form == q218::ReplyForm::SixthField, "a sixth space-ended field fails the reply");
    } else {
        Require(form == q218::ReplyForm::Fields, "at most five fields parse as the field form");
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i < pieces.size()) {
            Require(fields[i] == pieces[i], "field i is the i-th space-ended piece");
        } else if (i == 1) {
            Require(fields[i].empty(), "the model is emptied when the reply has no second field");
        } else {
            Require(fields[i] == before[i], "a field the reply does not supply keeps its value");
        }
    }
    return 0;
}
