#pragma once
// One image record turned into one bootloader frame: ":" N AH AL CS data, with word
// addresses, program words high byte first, fill words to a multiple of 8 bytes and the
// checksum before the data. Building the frame is pure; writing it is a separate step.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/LinkContext.h"

namespace q218 {

enum class RecordOutcome {
    Sent,      // one frame written
    Skipped,   // word address 0x2000 or above (the configuration word): nothing written
    End,       // end-of-file record: nothing written; the run sends ":" "S"
    Rejected,  // the reset-vector record does not hold exactly one word
    // Not a record that a frame can carry: no leading ":", an odd byte count or one above
    // 48, a field that is not two upper-case hex digits, or fewer data characters than the
    // count claims. Nothing written; the run ends as a failed transfer. The build-time
    // checker keeps such lines out of the embedded image.
    Malformed,
};

struct RecordFrame {
    RecordOutcome outcome = RecordOutcome::Skipped;
    std::vector<std::uint8_t> bytes;  // the whole frame when Sent, else empty
};

// Pure: takes one image line apart. Safe on any input line: reads only the characters it
// has, writes only the 48 data bytes a frame can hold. Fields are taken in the record's
// order. A line whose address's high byte (two upper-case hex digits) puts it at word 0x2000
// or above is Skipped before its count, the address's low byte or its type are looked at; an
// end-of-file record is End whatever its count; a record at word address 0 that is not one
// word is Rejected before its count is judged (even, at most 48).
[[nodiscard]] RecordFrame Record_Frame(std::string_view line);

// Builds the frame of `line` and writes it one byte per Output; on Rejected shows the goto
// message box (kGotoMessage) first. Writes nothing for any other outcome than Sent.
[[nodiscard]] RecordOutcome Record_Send(LinkContext& context, std::string_view line);

}  // namespace q218
