#pragma once
// The identification query: "990" CR, a settle delay, one read of everything waiting, and
// the reply parsed into the status-bar panels (DeviceInfo).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/LinkContext.h"

namespace q218 {

inline constexpr std::string_view kIdentifyCommand = "990\r";
inline constexpr std::string_view kExpectedModel = "Q218";

// Fields 1 to 5 of the identification reply at indexes 0 to 4: serial number, model,
// revision, date, and a fifth that is accepted and not shown. They keep their values from
// one query to the next; a reply replaces only the fields it supplies.
using ReplyFields = std::array<std::string, 5>;

enum class ReplyForm {
    Short,       // began with "Q218": model only
    Fields,      // space-ended fields
    SixthField,  // a sixth space-ended field: the whole reply fails, panels untouched
};

// Parses one reply into `fields` (pure; any bytes are safe input).
[[nodiscard]] ReplyForm ParseReply(std::string_view reply, ReplyFields& fields);

// How one identification query went.
enum class QueryStatus {
    NotOpened,  // the port would not open: nothing was sent
    Refused,    // a sixth field, or more than a reply can hold: the panels kept their texts
    Answered,   // the reply was parsed into the panels (which may now be empty)
};

// What one query learnt, beside the panels it fills: the panels' texts after it, how many
// fields this reply itself supplied (the others are left over from an earlier reply) and the
// reply's bytes as they came, for a face that quotes them (as data: any byte may be in it).
struct [[nodiscard]] DeviceInfo {
    QueryStatus status = QueryStatus::NotOpened;
    std::string model;
    std::string serial;
    std::string revision;
    std::string date;
    int fieldsSupplied = 0;
    std::string reply;
    OpenError openError;  // why the port would not open, when status is NotOpened

    // The panels name the Q218 after this query.
    bool IsQ218() const { return status == QueryStatus::Answered && model == kExpectedModel; }
    // This query's reply alone named the Q218 with serial number, revision and date: nothing
    // shown is left over from an earlier query.
    bool IsComplete() const { return IsQ218() && fieldsSupplied >= 4; }
};

// Queries the device on `portNumber`, writes the panels and returns what it learnt. A port
// that cannot be opened or a refused reply leaves the panels as they were.
DeviceInfo Detect(LinkContext& context, std::int16_t portNumber, ReplyFields& fields);

}  // namespace q218
