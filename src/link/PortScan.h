#pragma once

#include <cstdint>

#include "link/Identification.h"

namespace q218 {

// Looks for the Q218 on COM1 to COM4 in turn and stops at the first port whose "mod" panel
// reads "Q218". Leaves `portNumber` at the port found, or 4 when none was.
void Port_Scan(LinkContext& context, std::int16_t& portNumber, ReplyFields& fields);

}  // namespace q218
