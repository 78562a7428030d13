#pragma once
// What the device link shows the technician: the message line's texts of the connect step and
// the port scan, and the words that say why a port gave no Q218 (the scan detail's and
// q218-flash's, beside the permission advice PortAccess composes from the port's group).

#include <string>
#include <string_view>

namespace q218 {

// The message line while the updater waits for the device, at start and after a scan that
// found nothing.
inline constexpr std::string_view kConnectMessage = "Connect Q218 to serial port.";
// The message line after a scan that found no Q218 on any port.
inline constexpr std::string_view kNotFoundMessage = "Q218 not found.";

// "Looking for Q218 on COM 2." and "Q218 found on COM 2" (no full stop), for the port's
// shown name ("COM 2" in the scan).
inline std::string LookingMessage(std::string_view portName) {
    return "Looking for Q218 on " + std::string(portName) + ".";
}
inline std::string FoundMessage(std::string_view portName) {
    return "Q218 found on " + std::string(portName);
}

// Why one port gave no Q218.
inline constexpr std::string_view kSilentReason =
    "opened, but nothing answered the identification query.";
inline constexpr std::string_view kNotQ218Reason = "answered, but not as a Q218.";
inline constexpr std::string_view kNoSuchPortReason =
    "no such port: nothing is plugged in under that name.";
inline constexpr std::string_view kBusyReason =
    "held by another program: close it, then try again.";
inline constexpr std::string_view kNotOpenedReason = "could not be opened.";
// Followed by the system's own words.
inline constexpr std::string_view kNotOpenedBecause = "could not be opened: ";

}  // namespace q218
