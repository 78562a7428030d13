#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/Identification.h"

namespace q218 {

// The message line while the updater waits for the device, at start and after a scan that
// found nothing.
inline constexpr std::string_view kConnectMessage = "Connect Q218 to serial port.";
// The message line after a scan that found no Q218 on any port.
inline constexpr std::string_view kNotFoundMessage = "Q218 not found.";

// "Looking for Q218 on COM 2." and "Q218 found on COM 2" (no full stop), for the port's
// shown name ("COM 2" in the scan).
std::string LookingMessage(std::string_view portName);
std::string FoundMessage(std::string_view portName);

// Looks for the Q218 on COM1 to COM4 in turn and stops at the first port whose "mod" panel
// reads "Q218". Leaves `portNumber` at the port found, or 4 when none was.
void Port_Scan(LinkContext& context, std::int16_t& portNumber, ReplyFields& fields);

}  // namespace q218
