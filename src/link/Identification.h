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
ReplyForm ParseReply(std::string_view reply, ReplyFields& fields);

// Queries the device on `portNumber` and writes the panels. Never reports a failure: a port
// that cannot be opened or a sixth field leaves the panels as they were.
void Detect(LinkContext& context, std::int16_t portNumber, ReplyFields& fields);

}  // namespace q218
