#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/Identification.h"
#include "link/Messages.h"

namespace q218 {

// What a scan learnt: one query's account per port tried, COM1 first.
struct [[nodiscard]] ScanResult {
    std::vector<DeviceInfo> ports;

    // The port where the scan stopped because the "mod" panel read "Q218" (the last one
    // tried), or none.
    const DeviceInfo* Found() const {
        return !ports.empty() && ports.back().model == kExpectedModel ? &ports.back() : nullptr;
    }
};

// Why one port did not give a Q218, in words a technician can act on: missing, permission
// denied (naming the port's group), held by another program, silent, or some other answer.
// The window's scan detail and q218-flash both say it so.
std::string PortReason(const DeviceInfo& port);

// Why a scan found no Q218, one line per port tried ("COM 2 (/dev/ttyS1): " and the reason):
// no such port, permission denied (with the group to join), held by another program, opened
// but nothing answered, or answered but not as a Q218.
std::string NotFoundDetail(const ScanResult& scan);

// Looks for the Q218 on COM1 to COM4 in turn and stops at the first port whose "mod" panel
// reads "Q218". Leaves `portNumber` at the port found, or 4 when none was. When none was, the
// message line's detail says why (NotFoundDetail), until the next scan begins.
ScanResult Port_Scan(LinkContext& context, std::int16_t& portNumber, ReplyFields& fields);

}  // namespace q218
