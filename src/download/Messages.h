#pragma once
// What the download shows the technician: the message line's texts and the message box's.

#include <string_view>

namespace q218 {

inline constexpr std::string_view kPleaseReset = "Please reset Q218 to start update.";
inline constexpr std::string_view kResetting = "Resetting Q218 to start update.";
inline constexpr std::string_view kUpdating = "Updating Q218 firmware.";
inline constexpr std::string_view kComplete = "Update complete!";
inline constexpr std::string_view kUpdateError = "Update Error.";
// The message box when the reset-vector record does not hold exactly one word.
inline constexpr std::string_view kGotoMessage =
    "This HEX file does not appear to have the correct goto statement. Please double check "
    "that the proper 'origin 4' statement has been inserted at the beginning of the C "
    "program.";

}  // namespace q218
