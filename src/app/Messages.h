#pragma once
// What the window logic shows the technician on the message line, beyond the link's and the
// download's texts. Made for the window's controls: a terminal face says in its own words what
// its user does instead.

#include <string_view>

namespace q218 {

// The serial-number box is shown and waits for six digits.
inline constexpr std::string_view kEnterSerialMessage = "Enter serial number.";
// The serial number is in the image and "&Update" is enabled.
inline constexpr std::string_view kReadyMessage = "Ready for update.";

}  // namespace q218
